// The typed value field.
#include "TEDAdd.h"

namespace rv {

TEDAdd::TEDAdd(QWidget* parent) : TEditDigital(parent) {}

TEDAdd::~TEDAdd() = default;

void TEDAdd::Show(const std::string& text) { setText(QString::fromStdString(text)); }

std::string TEDAdd::Typed() const { return text().toStdString(); }

}  // namespace rv
