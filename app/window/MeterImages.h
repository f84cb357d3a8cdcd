// The meter's configuration record and flow-sensor records as the windows read them from flash, the fields
// decoded from them, and the choices a sensor dialog offers. Every read is bounded by its record.
#pragma once

#include "meter/FlashAddress.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace rv {

inline constexpr size_t kConfigImageSize = 392;
inline constexpr size_t kSensorImageSize = 310;
// The highest module number whose fields (execution at 2 + 50·m, table set at 379 + m) lie in the record.
inline constexpr int kMaxModuleNumber = 7;
// A sensor of this diameter (metres) or more is three-path: its KFS is held in three consecutive records.
inline constexpr double kThreePathDiameter = 0.15;

using TConfigImage = std::array<uint8_t, kConfigImageSize>;
using TSensorImage = std::array<uint8_t, kSensorImageSize>;
using TSensorImages = std::array<TSensorImage, flash::kSensorCount>;

// Configuration record, little-endian:
//   2 + 50·m   u16  execution number of module m
//   32         u8   paths per sensor: 1, or 3 (a sensor takes three channels and three records)
//   379 + m    u8   table set (accuracy class 0..4) of module m
uint8_t PathsPerSensorOf(const TConfigImage& config);
// Nothing for a module number whose field lies outside the record.
std::optional<uint16_t> ExecutionOf(const TConfigImage& config, int module);
std::optional<uint8_t> TableSetOf(const TConfigImage& config, int module);

// Sensor record i, little-endian:
//   120 u8 present (non-zero) | 122 u8 type (1 A, 2 B, 3 C) | 123 u8 module number
//   130 text serial number, to 140 | 140 text QVmax, m3/h, to 160 | 160 text KFS, 10 bytes
//   170 f32 nominal maximum | 178 f32 KFS | 186 f32 diameter, m | 194 f32 second diameter, m
//   198 + 12·k f32 a, b, c of correction segment k (k = 0..4) | 258 + 4·j f32 threshold j (j = 0..3)
// Texts are code page 1251, end at a 0 byte or at the end of their field, and are decoded to UTF-8.
struct SSensorRecord {
    static constexpr int kSegments = 5;
    static constexpr int kThresholds = 4;
    // Where the KFS fields lie, for the write that changes them.
    static constexpr size_t kKfsTextAt = 160;
    static constexpr size_t kKfsTextSize = 10;
    static constexpr size_t kKfsAt = 178;

    bool Present = false;
    uint8_t Type = 0;
    uint8_t Module = 0;
    std::string Serial;
    std::string QVmax;
    std::string KfsText;
    float NominalMax = 0.0f;
    float KfsValue = 0.0f;
    float Diameter = 0.0f;
    float Diameter2 = 0.0f;
    float Correction[kSegments][3] = {};
    float Thresholds[kThresholds] = {};

    static SSensorRecord Decode(const TSensorImage& image);
};

// The largest pipe diameter a sensor record may hold, metres: no sensor this tool verifies is larger.
inline constexpr double kMaxDiameter = 2.0;

// Why sensor record `position` cannot serve as it stands: a diameter that is not a number above 0 and at most
// kMaxDiameter, or a float KFS that is not a finite number above 0. The message names the field and its value;
// empty when the record can serve.
std::string SensorRecordFault(const SSensorRecord& sensor, int position);
// The KFS part of it alone, for the records that lend a three-path sensor their coefficients.
std::string KfsValueFault(const SSensorRecord& sensor, int position);
// The flow correction of the record (second diameter, the a, b, c of each segment, the thresholds): the field
// that is no number, named with its value; empty when every one is.
std::string CorrectionFault(const SSensorRecord& sensor, int position);
// The record holds its KFS twice, as text and as a float. When the text is no number, or the two differ by more
// than one unit of the text's last digit (and what a float can tell), a sentence that says so; empty otherwise.
std::string KfsTextMismatch(const SSensorRecord& sensor, int position);

// One radio button of a sensor choice dialog: the sensor position it stands for and its caption.
struct SSensorChoice {
    int Position = 0;
    std::string Caption;
};

// "FSA", "FSB", "FSC" for types 1, 2, 3; empty for any other type.
std::string SensorTypeName(uint8_t type);
// "FS-25S": the sensor's size in millimetres, T for three paths per sensor, S for one.
std::string SensorSize(const SSensorRecord& sensor, int pathsPerSensor);
// "FS/A FS-25S": as the protocol header names the sensor (the type left out when it is unknown).
std::string SensorDesignation(const SSensorRecord& sensor, int pathsPerSensor);
// "Модуль №1 FSA Диаметр 0,050": module, type name, diameter with 3 decimals and the locale's separator.
std::string SensorChoiceCaption(const SSensorRecord& sensor);
// The choices of a sensor dialog: positions 0, P, 2P … below 6 whose record is present, in that order.
// P other than 1 or 3 gives no choice (the caller refuses such a configuration before).
std::vector<SSensorChoice> SensorChoices(const TSensorImages& sensors, int pathsPerSensor);

}  // namespace rv
