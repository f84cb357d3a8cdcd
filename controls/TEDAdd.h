// The typed value field: a numeric edit that shows a value of one type with an offset and reads it back.
#pragma once

#include "controls/TEDAddConverter.h"
#include "controls/TEditDigital.h"

#include <string>

namespace rv {

// EDValueOut throws EConversionError and leaves the variable unwritten when the text does not fit its type.
class TEDAdd : public TEditDigital {
    Q_OBJECT
public:
    explicit TEDAdd(QWidget* parent = nullptr);
    ~TEDAdd() override;

    void EDValueIn(signed char value) { Show(converter_.In(value)); }
    void EDValueIn(unsigned char value) { Show(converter_.In(value)); }
    void EDValueIn(short value) { Show(converter_.In(value)); }
    void EDValueIn(unsigned short value) { Show(converter_.In(value)); }
    void EDValueIn(int value) { Show(converter_.In(value)); }
    void EDValueIn(unsigned int value) { Show(converter_.In(value)); }
    void EDValueIn(float value) { Show(converter_.In(value)); }
    void EDValueIn(double value) { Show(converter_.In(value)); }

    void EDValueOut(signed char* var) const { converter_.Out(Typed(), var); }
    void EDValueOut(unsigned char* var) const { converter_.Out(Typed(), var); }
    void EDValueOut(short* var) const { converter_.Out(Typed(), var); }
    void EDValueOut(unsigned short* var) const { converter_.Out(Typed(), var); }
    void EDValueOut(int* var) const { converter_.Out(Typed(), var); }
    void EDValueOut(unsigned int* var) const { converter_.Out(Typed(), var); }
    void EDValueOut(float* var) const { converter_.Out(Typed(), var); }
    void EDValueOut(double* var) const { converter_.Out(Typed(), var); }

    void SetInAdd(int64_t v) { converter_.SetInAdd(v); }
    int64_t GetInAdd() const { return converter_.GetInAdd(); }
    void SetOutAdd(int64_t v) { converter_.SetOutAdd(v); }
    int64_t GetOutAdd() const { return converter_.GetOutAdd(); }
    void SetFloatDigit(int v) { converter_.SetFloatDigit(v); }
    int GetFloatDigit() const { return converter_.GetFloatDigit(); }
    void SetAddType(TAddType v) { converter_.SetAddType(v); }
    TAddType GetAddType() const { return converter_.GetAddType(); }

private:
    void Show(const std::string& text);
    std::string Typed() const;

    TEDAddConverter converter_;
};

}  // namespace rv
