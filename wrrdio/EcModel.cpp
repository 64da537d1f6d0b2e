#include "EcModel.h"

#include <math.h>
#include <string.h>

namespace wrsim {

namespace {

const double kStepSeconds = 0.1;
// A process that sat idle for minutes must not replay them all in one call.
const double kMaxRealStepSeconds = 5.0;
const double kLoadSampleSeconds = 0.5;

// Fan curve of the firmware: off below kFanOnTemp, kMinOnDuty when it starts,
// full duty from kFanFullTemp. It only slows down once the temperature has
// fallen kHysteresis degrees below the point that set the current duty, so
// a temperature hovering at a threshold does not make the fan hunt.
const double kFanOnTemp = 45.0;
const double kFanFullTemp = 85.0;
const double kMinOnDuty = 30.0;
const double kHysteresis = 3.0;
const int kMaxDuty = 127;

// Below this duty the motor cannot overcome its cogging torque and stops.
const int kStallDuty = 10;
const double kMaxRpm[kFanCount] = {6000.0, 5600.0};
const double kFanTau = 1.0;
const double kTachClock = 2156250.0;

// CPU package: heat in from the workload, out through the heatsink, whose
// conductance grows with the airflow.
const double kIdlePower = 8.0;
const double kLoadPower = 62.0;
const double kStillAirConductance = 0.5;
const double kFanConductance = 1.0;
const double kCpuTau = 10.0;
// The CPU throttles its workload away between these temperatures.
const double kThrottleStart = 95.0;
const double kThrottleEnd = 105.0;
const double kLoadTau = 1.5;

const double kAmbientLow = 25.5;
const double kAmbientSpan = 6.0;
const double kAmbientTau = 90.0;

const double kPowerOnCpuTemp = 45.0;
const double kPowerOnAmbientTemp = 28.0;
const double kPowerOnLoad = 0.1;

DWORD NextRandom(MODEL_STATE& m) {
    DWORD x = m.dwRandom;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    m.dwRandom = x;
    return x;
}

double RandomUnit(MODEL_STATE& m) {
    return (NextRandom(m) >> 8) / 16777216.0;
}

double Approach(double value, double target, double tau, double dt) {
    return target + (value - target) * exp(-dt / tau);
}

double CurveDuty(double temp) {
    if (temp < kFanOnTemp) return 0.0;
    if (temp >= kFanFullTemp) return kMaxDuty;
    return kMinOnDuty + (temp - kFanOnTemp) * (kMaxDuty - kMinOnDuty) / (kFanFullTemp - kFanOnTemp);
}

BYTE NextAutoDuty(BYTE current, double temp) {
    const BYTE up = static_cast<BYTE>(lround(CurveDuty(temp)));
    const BYTE down = static_cast<BYTE>(lround(CurveDuty(temp + kHysteresis)));
    if (up > current) return up;
    if (down < current) return down;
    return current;
}

BYTE DutyInEffect(const SIM_SHARED& sim, int fan) {
    if (sim.regs[kRegManualMode] != 1) return sim.model.nAutoDuty;
    const BYTE manual = sim.regs[fan == 0 ? kRegManualDutyPwm0 : kRegManualDutyPwm4];
    return manual > kMaxDuty ? kMaxDuty : manual;
}

double TargetRpm(int fan, BYTE duty) {
    return duty < kStallDuty ? 0.0 : kMaxRpm[fan] * duty / kMaxDuty;
}

BYTE TemperatureByte(double temp) {
    if (temp <= 0.0) return 0;
    if (temp >= 255.0) return 255;
    return static_cast<BYTE>(lround(temp));
}

WORD TachCount(double rpm) {
    if (rpm < 1.0) return 0;
    const double count = kTachClock / rpm;
    return count >= 65535.0 ? 0xFFFF : static_cast<WORD>(lround(count));
}

double WorkloadTarget(MODEL_STATE& m, double dt) {
    if (m.nLoadOverride >= 0) return m.nLoadOverride / 100.0;
    if (m.bHostLoadKnown) return m.dHostLoad;
    // Without the host's figures: mostly idle, with bursts of work.
    m.dSyntheticLoadLeft -= dt;
    if (m.dSyntheticLoadLeft <= 0.0) {
        m.dSyntheticLoadLeft = 2.0 + 6.0 * RandomUnit(m);
        m.dSyntheticLoad =
            RandomUnit(m) < 0.7 ? 0.03 + 0.12 * RandomUnit(m) : 0.4 + 0.6 * RandomUnit(m);
    }
    return m.dSyntheticLoad;
}

void Step(SIM_SHARED& sim, double dt) {
    MODEL_STATE& m = sim.model;
    m.dLoad = Approach(m.dLoad, WorkloadTarget(m, dt), kLoadTau, dt);

    m.dAmbientTargetLeft -= dt;
    if (m.dAmbientTargetLeft <= 0.0) {
        m.dAmbientTargetLeft = 60.0 + 120.0 * RandomUnit(m);
        m.dAmbientTarget = kAmbientLow + kAmbientSpan * RandomUnit(m);
    }
    m.dAmbientTemp = Approach(m.dAmbientTemp, m.dAmbientTarget, kAmbientTau, dt);

    m.nAutoDuty = NextAutoDuty(m.nAutoDuty, m.dCpuTemp);
    double airflow = 0.0;
    for (int fan = 0; fan < kFanCount; ++fan) {
        const double target = TargetRpm(fan, DutyInEffect(sim, fan));
        m.dRpm[fan] = Approach(m.dRpm[fan], target, kFanTau, dt);
        if (target == 0.0 && m.dRpm[fan] < 1.0) m.dRpm[fan] = 0.0;
        airflow += m.dRpm[fan] / kMaxRpm[fan] / kFanCount;
    }

    double throttle = (kThrottleEnd - m.dCpuTemp) / (kThrottleEnd - kThrottleStart);
    throttle = throttle < 0.0 ? 0.0 : throttle > 1.0 ? 1.0 : throttle;
    const double power = kIdlePower + kLoadPower * m.dLoad * throttle;
    const double conductance = kStillAirConductance + kFanConductance * airflow;
    m.dCpuTemp = Approach(m.dCpuTemp, m.dAmbientTemp + power / conductance, kCpuTau, dt);
}

// A temperature register that no longer shows what the model last put there
// was written from outside (a test, or a program): the model carries on from
// the written value.
void AdoptWrittenTemperatures(SIM_SHARED& sim) {
    MODEL_STATE& m = sim.model;
    if (sim.regs[kRegCpuTemp] != m.nPublishedCpuTemp) m.dCpuTemp = sim.regs[kRegCpuTemp];
    if (sim.regs[kRegAmbientTemp] != m.nPublishedAmbientTemp)
        m.dAmbientTemp = sim.regs[kRegAmbientTemp];
}

void Publish(SIM_SHARED& sim) {
    MODEL_STATE& m = sim.model;
    m.nPublishedCpuTemp = sim.regs[kRegCpuTemp] = TemperatureByte(m.dCpuTemp);
    m.nPublishedAmbientTemp = sim.regs[kRegAmbientTemp] = TemperatureByte(m.dAmbientTemp);
    sim.regs[kRegDutyPwm0] = DutyInEffect(sim, 0);
    sim.regs[kRegDutyPwm4] = DutyInEffect(sim, 1);
    const WORD tach0 = TachCount(m.dRpm[0]);
    const WORD tach4 = TachCount(m.dRpm[1]);
    sim.regs[kRegTachPwm0High] = HIBYTE(tach0);
    sim.regs[kRegTachPwm0Low] = LOBYTE(tach0);
    sim.regs[kRegTachPwm4High] = HIBYTE(tach4);
    sim.regs[kRegTachPwm4Low] = LOBYTE(tach4);
}

ULONGLONG FileTimeValue(const FILETIME& ft) {
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void SampleHostLoad(MODEL_STATE& m, LONGLONG now, LONGLONG frequency) {
    if (m.nLoadOverride >= 0 || now - m.llLastLoadSample < kLoadSampleSeconds * frequency) return;
    m.llLastLoadSample = now;
    FILETIME idle, kernel, user;
    if (!GetSystemTimes(&idle, &kernel, &user)) return;
    // Kernel time includes the idle time.
    const ULONGLONG idleNow = FileTimeValue(idle);
    const ULONGLONG busyNow = FileTimeValue(kernel) + FileTimeValue(user) - idleNow;
    const ULONGLONG idleDelta = idleNow - m.ullHostIdle;
    const ULONGLONG busyDelta = busyNow - m.ullHostBusy;
    if (m.ullHostIdle != 0 && idleDelta + busyDelta > 0) {
        m.dHostLoad = static_cast<double>(busyDelta) / (idleDelta + busyDelta);
        m.bHostLoadKnown = TRUE;
    }
    m.ullHostIdle = idleNow;
    m.ullHostBusy = busyNow;
}

LONGLONG Counter() {
    LARGE_INTEGER li;
    QueryPerformanceCounter(&li);
    return li.QuadPart;
}

LONGLONG CounterFrequency() {
    LARGE_INTEGER li;
    QueryPerformanceFrequency(&li);
    return li.QuadPart;
}

}  // namespace

void PowerOn(SIM_SHARED& sim, unsigned seed) {
    // The caller is inside the EC, and stays there.
    const LONGLONG llOwner = sim.llOwner;
    memset(&sim, 0, sizeof(sim));
    sim.llOwner = llOwner;
    sim.dwMagic = kSectionMagic;
    sim.dwVersion = kLayoutVersion;
    // The chip identifies itself as an IT5570.
    sim.regs[kRegChipId1] = 0x55;
    sim.regs[kRegChipId2] = 0x70;

    MODEL_STATE& m = sim.model;
    m.dwRandom = seed * 2654435761u ^ 0x9E3779B9u;
    if (m.dwRandom == 0) m.dwRandom = 1;
    m.nLoadOverride = -1;
    m.dLoad = m.dSyntheticLoad = kPowerOnLoad;
    m.dCpuTemp = kPowerOnCpuTemp;
    m.dAmbientTemp = m.dAmbientTarget = kPowerOnAmbientTemp;
    m.dAmbientTargetLeft = 60.0 + 120.0 * RandomUnit(m);
    m.nAutoDuty = NextAutoDuty(0, m.dCpuTemp);
    for (int fan = 0; fan < kFanCount; ++fan) m.dRpm[fan] = TargetRpm(fan, m.nAutoDuty);
    m.llLastCounter = m.llLastLoadSample = Counter();
    Publish(sim);
}

void AdvanceBy(SIM_SHARED& sim, double seconds) {
    AdoptWrittenTemperatures(sim);
    while (seconds > 0.0) {
        const double dt = seconds < kStepSeconds ? seconds : kStepSeconds;
        Step(sim, dt);
        seconds -= dt;
    }
    Publish(sim);
}

void AdvanceToNow(SIM_SHARED& sim, bool bFollowHost) {
    MODEL_STATE& m = sim.model;
    if (sim.bFrozen) return;
    const LONGLONG now = Counter();
    const LONGLONG frequency = CounterFrequency();
    if (bFollowHost) SampleHostLoad(m, now, frequency);
    double seconds = static_cast<double>(now - m.llLastCounter) / frequency;
    m.llLastCounter = now;
    if (seconds < 0.0) seconds = 0.0;
    if (seconds > kMaxRealStepSeconds) seconds = kMaxRealStepSeconds;
    AdvanceBy(sim, seconds);
}

void RestartClock(SIM_SHARED& sim) {
    sim.model.llLastCounter = Counter();
}

}  // namespace wrsim
