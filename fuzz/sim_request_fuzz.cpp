// Whatever the tool sends, the simulated devices must not crash, and every
// request they act on must be a whole frame with a good CRC.
//
// The bus model is built once per process for each drift setting and copied
// back from that pristine model before each input, as are the parser and the
// transmitter, so an input runs the same whatever ran before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/crc.h"
#include "sim/bus_model.h"
#include "sim/faults.h"
#include "sim/request_parser.h"
#include "sim/transmitter.h"

using namespace busdesk;
using namespace busdesk::sim;

namespace {

BusModel MakeModel(bool drift) {
    BusConfig config = DefaultBusConfig();
    config.drift = drift;
    return BusModel(config);
}

struct Kept {
    const BusModel pristine[2] = {MakeModel(false), MakeModel(true)};
    BusModel model = pristine[0];
    RequestParser parser;
    Transmitter tx;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static Kept kept;
    BusModel& model = kept.model;
    model = kept.pristine[data[0] & 1];
    RequestParser& parser = kept.parser;
    parser = RequestParser{};
    Transmitter& tx = kept.tx;
    tx = Transmitter{};  // Clear() keeps when the line was last busy
    Faults faults;
    faults.corrupt = (data[0] >> 1) & 1;
    faults.split = (data[0] >> 2) & 1;
    faults.late = (data[0] >> 3) & 1;
    faults.surveySize = (data[0] >> 4) * 2U;
    const Clock::time_point t0{};

    // The rest arrives in reads whose sizes the low bits of the bytes choose,
    // with a quiet line now and then.
    std::size_t at = 1;
    double seconds = 0;
    while (at < size) {
        const std::size_t chunk = 1 + data[at] % 23;
        const std::size_t n = chunk < size - at ? chunk : size - at;
        for (const Request& q : parser.Feed(data + at, n)) {
            // A request rebuilt as a frame must be one the parser would take whole.
            Bytes frame{0x31, q.address};
            if (!q.survey) frame.push_back(q.command);
            frame.insert(frame.end(), q.payload.begin(), q.payload.end());
            frame.push_back(Crc8(frame));
            if (FrameLength(frame) != frame.size()) std::abort();
            for (Answer& a : model.Handle(q, seconds)) {
                for (Piece& p : Shape(std::move(a), faults, std::chrono::microseconds(521))) {
                    tx.Schedule(t0 + p.after, std::move(p.bytes), std::chrono::microseconds(521));
                }
            }
        }
        if (data[at] & 0x80) parser.Idle();
        seconds += 0.25;
        at += n;
    }
    (void)tx.Take(t0 + std::chrono::seconds(10));
    if (!tx.Empty()) std::abort();
    return 0;
}
