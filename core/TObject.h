// Base of every component: an owner that destroys what it owns, and a name.
#pragma once

#include <string>
#include <vector>

namespace rv {

class TObject {
public:
    virtual ~TObject() = default;
};

// A component registers itself with its owner; the owner deletes its owned
// components (last created first) when it is destroyed. A component deleted
// earlier unregisters itself, so nothing is deleted twice.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* GetOwner() const { return owner_; }
    const std::string& GetName() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    // True from the start of the destructor of this component or of its owner.
    bool IsDestroying() const { return destroying_ || (owner_ && owner_->IsDestroying()); }
    int ComponentCount() const { return static_cast<int>(owned_.size()); }
    TComponent* GetComponent(int i) const { return owned_.at(static_cast<size_t>(i)); }

protected:
    // Derived destructors may call this first so that IsDestroying holds during their teardown.
    void MarkDestroying() { destroying_ = true; }

private:
    void Remove(TComponent* c);

    TComponent* owner_ = nullptr;
    std::string name_;
    std::vector<TComponent*> owned_;
    bool destroying_ = false;
};

}  // namespace rv
