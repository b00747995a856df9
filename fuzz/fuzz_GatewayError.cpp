// The body of a gateway reply whose status is not 2xx.
#include "FuzzInput.h"

#include "core/gateway/GatewayError.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    for (const int status : { 0, 401, 409, 500 }) {
        const GatewayError e = GatewayError::fromReply(status, body);
        // There is always something to tell the user.
        FUZZ_CHECK(!e.errorDescription().isEmpty());
        e.advice();
    }
    return 0;
}
