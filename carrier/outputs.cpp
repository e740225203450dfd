// The table of ways out kolvan has, read by the command line, --help and
// main. Each row lives in its way out's own file; the order is --help's.
#include "carrier/carrier_output.h"

extern const CarrierOutput kSerialOutput;
extern const CarrierOutput kAudioOutput;
extern const CarrierOutput kPwmOutput;

const CarrierOutput* const kOutputs[] = {&kSerialOutput, &kAudioOutput, &kPwmOutput, nullptr};
