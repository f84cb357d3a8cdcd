// Component ownership.
#include "TObject.h"

#include <algorithm>

namespace rv {

TComponent::TComponent(TComponent* owner) : owner_(owner)
{
    if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent()
{
    destroying_ = true;
    while (!owned_.empty()) {
        TComponent* c = owned_.back();
        owned_.pop_back();
        c->owner_ = nullptr;
        delete c;
    }
    if (owner_) owner_->Remove(this);
}

void TComponent::Remove(TComponent* c)
{
    auto it = std::find(owned_.begin(), owned_.end(), c);
    if (it != owned_.end()) owned_.erase(it);
}

}  // namespace rv
