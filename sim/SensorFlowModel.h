// The physics of one ultrasonic flow sensor as the meter's emulator sees it: the flow (m3/h) that an
// emulated delay between the two ultrasonic signals stands for, in the sensor's pipe, with the transit
// time of sound across it, the flow profile of water at 20 °C and the sensor's KFS coefficient.
#pragma once

namespace rv::sim {

// With u = m·dt/2 for a delay of m ticks (dt = kTick) and T the transit time:
//   flow(m) = 3600·π·D³·Kv·F·Kh(m)·u / (u + T)²        flow(0) = 0
//   Kh(m)   = 2n / (2n + 1),  n = 11.269 − 3.019·lg R + 0.432·(lg R)²
//   R(m)    = 2·m·dt·D²·Kv·F / (ν·(u + T)²)
// D and Kv = (c / 2D)² come from the size of the sensor's nominal maximum, F is its KFS, ν the
// viscosity of water at 20 °C. Everything is worked in double.
class SensorFlowModel {
public:
    static constexpr double kTick = 5.5556e-8;       // s, the meter's time base
    static constexpr double kSoundSpeed = 1482.3;    // m/s, in water at 20 °C
    static constexpr double kWaterTemperature = 20;  // °C

    // The size (0..7) of a nominal maximum, by its whole part: 7, 12, 20, 30, 50, 80, 120, 200; -1 for
    // anything else.
    static int SizeOf(double nominalMax);
    // Kinematic viscosity of water, m2/s, at celsius degrees.
    static double WaterViscosity(double celsius);
    // The largest delay a verification sweeps for a sensor whose delay 1 reads flowPerKfs (m3/h per unit
    // of KFS): the whole part of nominalMax / flowPerKfs + 1, one less when that overshoots the nominal
    // maximum by more than a third. 0 when flowPerKfs is not a positive number.
    static int LargestDelay(double nominalMax, double flowPerKfs);

    // A sensor of the given size (an unknown nominal maximum is taken as the smallest size), KFS and
    // transit time (s). A transit time that is not a positive number is chosen by TypicalTransitTime.
    SensorFlowModel(double nominalMax, double kfs, double transitTime);

    // The transit time at which delay 1 of a sensor of this size and KFS reads flowPerKfs × KFS; 0 when
    // no transit time does.
    static double TransitTimeFor(double nominalMax, double kfs, double flowPerKfs);
    // The transit time of an ordinary sensor of this size: its sweep reaches the nominal maximum at
    // about ten delays (nominal maximum / 9.5 per delay).
    static double TypicalTransitTime(double nominalMax, double kfs);

    // False when the KFS is not a positive number: such a sensor measures nothing.
    bool Valid() const { return valid_; }
    // m3/h at a delay of m ticks (m may be fractional); 0 for m <= 0 or an invalid sensor.
    double FlowAt(double m) const;
    double ProfileAt(double m) const;
    double ReynoldsAt(double m) const;

    double Diameter() const { return diameter_; }
    double Kfs() const { return kfs_; }
    double TransitTime() const { return transitTime_; }

private:
    double diameter_ = 0;
    double kv_ = 0;
    double kfs_ = 0;
    double transitTime_ = 0;
    double viscosity_ = 0;
    bool valid_ = false;
};

}  // namespace rv::sim
