/* Compiles the public header as plain C11 and takes the address of every export, so that the C
 * compiler sees each declaration, and pins the sizes and values a C host relies on. Built as an
 * object only; nothing here runs. */
#include <stdint.h>

#include "vm316.h"

/* The enumerations travel in one byte, as the library holds them. */
_Static_assert(sizeof(TTrigSource) == 1, "TTrigSource is one byte");
_Static_assert(sizeof(TMeasureMode) == 1, "TMeasureMode is one byte");
_Static_assert(sizeof(TAcquisitionMode) == 1, "TAcquisitionMode is one byte");
_Static_assert(sizeof(TTransferMode) == 1, "TTransferMode is one byte");

_Static_assert(StatusOk == 0, "StatusOk");
_Static_assert(StatusNoHardware == 1, "StatusNoHardware");
_Static_assert(StatusNotInitialized == 2, "StatusNotInitialized");
_Static_assert(StatusNotSupported == 4, "StatusNotSupported");
_Static_assert(StatusNoGenerator == 8, "StatusNoGenerator");
_Static_assert(StatusInvalidChannel == 16, "StatusInvalidChannel");
_Static_assert(StatusInvalidValue == 32, "StatusInvalidValue");

/* The ends of each enumeration and the values this board accepts. */
_Static_assert(tsCh1 == 0 && tsCh2 == 1 && tsExternal == 4 && tsAnd == 6 && tsOr == 7 &&
                   tsNoTrig == 9 && tsUnknown == 15,
               "TTrigSource values");
_Static_assert(mNone == 0 && mCh1 == 1 && mCh2 == 2 && mCh12 == 3 && mCh1234 == 15 && mXY == 16,
               "TMeasureMode values");
_Static_assert(amContinuous == 0 && amHold == 1 && amOneShot == 2, "TAcquisitionMode values");
_Static_assert(tmBlock == 0 && tmStream == 1, "TTransferMode values");
_Static_assert(SlopeRising == 0 && SlopeFalling == 1, "slope values");

/* A status code is 16-bit unsigned. */
_Static_assert(sizeof(ExitInstrument()) == sizeof(uint16_t), "status is 16-bit");

/* ISO C has no conversion between function and object pointers; go through an integer. */
typedef void (*vm316_any_export)(void);
#define VM316_ADDRESS_OF(name) ((const void*)(uintptr_t)(vm316_any_export)&name)

/* In ordinal order; the count must stay 115. */
extern const void* const vm316_export_addresses[];
const void* const vm316_export_addresses[] = {
    VM316_ADDRESS_OF(InitInstrument),
    VM316_ADDRESS_OF(ExitInstrument),
    VM316_ADDRESS_OF(GetCalibrationDate),
    VM316_ADDRESS_OF(GetSerialNumber),
    VM316_ADDRESS_OF(GetMaxSampleFrequency),
    VM316_ADDRESS_OF(GetMaxRecordLength),
    VM316_ADDRESS_OF(GetSquareWaveGenStatus),
    VM316_ADDRESS_OF(GetFunctionGenStatus),
    VM316_ADDRESS_OF(GetFuncGenMaxAmplitude),
    VM316_ADDRESS_OF(StartMeasurement),
    VM316_ADDRESS_OF(GetMeasurement),
    VM316_ADDRESS_OF(GetOneMeasurement),
    VM316_ADDRESS_OF(GetMeasurementRaw),
    VM316_ADDRESS_OF(GetOneMeasurementRaw),
    VM316_ADDRESS_OF(GetMeasureMode),
    VM316_ADDRESS_OF(SetMeasureMode),
    VM316_ADDRESS_OF(GetRecordLength),
    VM316_ADDRESS_OF(SetRecordLength),
    VM316_ADDRESS_OF(GetPostSamples),
    VM316_ADDRESS_OF(SetPostSamples),
    VM316_ADDRESS_OF(GetSampleFrequency),
    VM316_ADDRESS_OF(SetSampleFrequency),
    VM316_ADDRESS_OF(GetSensitivity),
    VM316_ADDRESS_OF(SetSensitivity),
    VM316_ADDRESS_OF(GetAutoRanging),
    VM316_ADDRESS_OF(SetAutoRanging),
    VM316_ADDRESS_OF(GetCoupling),
    VM316_ADDRESS_OF(SetCoupling),
    VM316_ADDRESS_OF(GetDcLevel),
    VM316_ADDRESS_OF(SetDcLevel),
    VM316_ADDRESS_OF(GetTriggerSource),
    VM316_ADDRESS_OF(SetTriggerSource),
    VM316_ADDRESS_OF(GetTriggerMode),
    VM316_ADDRESS_OF(SetTriggerMode),
    VM316_ADDRESS_OF(GetTriggerLevel),
    VM316_ADDRESS_OF(SetTriggerLevel),
    VM316_ADDRESS_OF(GetTriggerHys),
    VM316_ADDRESS_OF(SetTriggerHys),
    VM316_ADDRESS_OF(GetPXITriggerSlopes),
    VM316_ADDRESS_OF(SetPXITriggerSlopes),
    VM316_ADDRESS_OF(GetPXITriggerEnables),
    VM316_ADDRESS_OF(SetPXITriggerEnables),
    VM316_ADDRESS_OF(GetTriggerTimeOut),
    VM316_ADDRESS_OF(SetTriggerTimeOut),
    VM316_ADDRESS_OF(GetSquareWaveGenFrequency),
    VM316_ADDRESS_OF(SetSquareWaveGenFrequency),
    VM316_ADDRESS_OF(GetFuncGenFrequency),
    VM316_ADDRESS_OF(SetFuncGenFrequency),
    VM316_ADDRESS_OF(GetFuncGenAmplitude),
    VM316_ADDRESS_OF(SetFuncGenAmplitude),
    VM316_ADDRESS_OF(GetFuncGenSignalType),
    VM316_ADDRESS_OF(SetFuncGenSignalType),
    VM316_ADDRESS_OF(GetFuncGenDCOffset),
    VM316_ADDRESS_OF(SetFuncGenDCOffset),
    VM316_ADDRESS_OF(GetFuncGenSymmetry),
    VM316_ADDRESS_OF(SetFuncGenSymmetry),
    VM316_ADDRESS_OF(GetFuncGenOutputOn),
    VM316_ADDRESS_OF(SetFuncGenOutputOn),
    VM316_ADDRESS_OF(FillFuncGenMemory),
    VM316_ADDRESS_OF(SetDigitalOutputs),
    VM316_ADDRESS_OF(GetDigitalOutputs),
    VM316_ADDRESS_OF(GetDigitalInputValues),
    VM316_ADDRESS_OF(GetOneDigitalValue),
    VM316_ADDRESS_OF(GetActiveKT5),
    VM316_ADDRESS_OF(SetActiveKT5),
    VM316_ADDRESS_OF(SetDAC1451),
    VM316_ADDRESS_OF(SetMotorOn),
    VM316_ADDRESS_OF(GetAvailableResolutions),
    VM316_ADDRESS_OF(GetAvailableSensitivities),
    VM316_ADDRESS_OF(ADC_Start),
    VM316_ADDRESS_OF(ADC_Running),
    VM316_ADDRESS_OF(ADC_Abort),
    VM316_ADDRESS_OF(ADC_Triggered),
    VM316_ADDRESS_OF(ADC_Ready),
    VM316_ADDRESS_OF(ADC_GetData),
    VM316_ADDRESS_OF(ADC_GetDataVolt),
    VM316_ADDRESS_OF(ADC_ForceTrig),
    VM316_ADDRESS_OF(GetResolution),
    VM316_ADDRESS_OF(SetResolution),
    VM316_ADDRESS_OF(GetDCLevelStatus),
    VM316_ADDRESS_OF(GetExternalClock),
    VM316_ADDRESS_OF(SetExternalClock),
    VM316_ADDRESS_OF(FuncGenBurst),
    VM316_ADDRESS_OF(SetInstrumentConfig),
    VM316_ADDRESS_OF(GetInstrumentConfig),
    VM316_ADDRESS_OF(SetupOhmMeasurements),
    VM316_ADDRESS_OF(GetOhmValues),
    VM316_ADDRESS_OF(SetFuncGenTrigSource),
    VM316_ADDRESS_OF(GetFuncGenTrigSource),
    VM316_ADDRESS_OF(GetSampleFrequencyF),
    VM316_ADDRESS_OF(SetSampleFrequencyF),
    VM316_ADDRESS_OF(SetTransferMode),
    VM316_ADDRESS_OF(GetTransferMode),
    VM316_ADDRESS_OF(GetNrChannels),
    VM316_ADDRESS_OF(ADC_GetDataCh),
    VM316_ADDRESS_OF(ADC_GetDataVoltCh),
    VM316_ADDRESS_OF(SetDataReadyCallback),
    VM316_ADDRESS_OF(SetDataReadyEvent),
    VM316_ADDRESS_OF(DoMeasure),
    VM316_ADDRESS_OF(SetTriggerModeCh),
    VM316_ADDRESS_OF(GetTriggerModeCh),
    VM316_ADDRESS_OF(SetFuncGenMode),
    VM316_ADDRESS_OF(GetFuncGenMode),
    VM316_ADDRESS_OF(GetOneMeasurementRawCh),
    VM316_ADDRESS_OF(I2CWrite),
    VM316_ADDRESS_OF(I2CRead),
    VM316_ADDRESS_OF(GetMaxSampleFrequencyF),
    VM316_ADDRESS_OF(I2CWriteNoStop),
    VM316_ADDRESS_OF(I2CReadNoStop),
    VM316_ADDRESS_OF(I2CSetSpeed),
    VM316_ADDRESS_OF(I2CGetSpeed),
    VM316_ADDRESS_OF(SetFuncGenEnable),
    VM316_ADDRESS_OF(GetFuncGenEnable),
    VM316_ADDRESS_OF(SetFuncGenAmplitudeRange),
    VM316_ADDRESS_OF(GetFuncGenAmplitudeRange),
};

_Static_assert(sizeof vm316_export_addresses / sizeof vm316_export_addresses[0] == 115,
               "every export once");
