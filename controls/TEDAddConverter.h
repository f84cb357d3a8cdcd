// The value logic of the typed value field: a number of one type shown with an offset, and read back with another.
#pragma once

#include <cstdint>
#include <string>

namespace rv {

enum TAddType { addChar, addUChar, addShort, addUShort, addInt, addUInt };

// Integer overloads wrap around in their own width: only the low bits of the 64-bit offsets take part; both
// 32-bit overloads show and read a signed 32-bit text (an unsigned 4294967295 shows as "-1").
// The floating overloads add the whole offset. Out throws EConversionError and leaves *var unwritten
// when the text is not a number of the kind asked for or does not fit the variable.
class TEDAddConverter {
public:
    std::string In(signed char value) const;
    std::string In(unsigned char value) const;
    std::string In(short value) const;
    std::string In(unsigned short value) const;
    std::string In(int value) const;
    std::string In(unsigned int value) const;
    std::string In(float value) const;
    std::string In(double value) const;

    void Out(const std::string& text, signed char* var) const;
    void Out(const std::string& text, unsigned char* var) const;
    void Out(const std::string& text, short* var) const;
    void Out(const std::string& text, unsigned short* var) const;
    void Out(const std::string& text, int* var) const;
    void Out(const std::string& text, unsigned int* var) const;
    void Out(const std::string& text, float* var) const;
    void Out(const std::string& text, double* var) const;

    void SetInAdd(int64_t v) { inAdd_ = v; }
    int64_t GetInAdd() const { return inAdd_; }
    void SetOutAdd(int64_t v) { outAdd_ = v; }
    int64_t GetOutAdd() const { return outAdd_; }
    void SetFloatDigit(int v) { floatDigit_ = v; }
    int GetFloatDigit() const { return floatDigit_; }
    void SetAddType(TAddType v) { addType_ = v; }
    TAddType GetAddType() const { return addType_; }

    // The text of a floating value: general form with up to 15 significant digits when digits is 0, else fixed
    // with that many decimals rounded to 10 significant digits (exponent form when the integer part needs more).
    static std::string FormatFloat(long double value, int digits, char sep);

private:
    // The entered signed 32-bit integer plus the low 32 bits of OutAdd, as a pattern to cut down to the variable.
    uint32_t IntegerOut(const std::string& text) const;
    long double FloatOut(const std::string& text) const;
    uint32_t InSum(uint32_t value) const { return static_cast<uint32_t>(inAdd_) + value; }

    int64_t inAdd_ = 0;
    int64_t outAdd_ = 0;
    int floatDigit_ = 0;
    TAddType addType_ = addChar;
};

}  // namespace rv
