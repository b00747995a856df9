// A model provider's answer to the key check. Providers quote a refused key
// back; whatever the answer, the key must not reach the text that is stored
// and shown.
#include "FuzzInput.h"

#include "core/providers/ProviderVerify.h"

FUZZ_QUIET_QT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString key = QStringLiteral("sk-fuzz-4f2a9c1e7b3d5a60");
    const QByteArray body = fuzzBytes(data, size);
    const QString networkError = QString::fromUtf8(body);
    for (const int status : { 0, 200, 401, 500 }) {
        for (const bool timedOut : { false, true }) {
            const ProviderVerify::Outcome outcome
                = ProviderVerify::interpret(status, body, networkError, timedOut, key);
            FUZZ_CHECK(!outcome.detail.contains(key));
            FUZZ_CHECK(!outcome.detail.isEmpty());
        }
    }
    return 0;
}
