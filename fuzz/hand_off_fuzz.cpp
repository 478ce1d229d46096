// libFuzzer target: any bytes as a message a later start hands to the running Zuvora,
// arriving in two pieces as a socket may deliver them. Crashes, hangs, leaks and a message
// taken beyond its limits are the faults.

#include "app/HandOffMessage.h"

#include <QByteArrayView>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    // The first byte says where the stream is cut.
    const qsizetype cut = size == 0 ? 0 : std::min<qsizetype>(data[0], bytes.size());
    THandOffReader reader;
    if (reader.Feed(bytes.first(cut)) == THandOffReader::TState::Reading)
        reader.Feed(bytes.sliced(cut));
    if (reader.State() == THandOffReader::TState::Complete && reader.Paths().size() > 10000)
        std::abort();
    return 0;
}
