// The reply receiver and validator fed whatever the line brings. A port without a
// device answers every request frame with bytes taken from the fuzz input: either
// raw bytes, or a frame built around an input payload (acknowledge byte and CRC
// right or wrong as the input says, so the validator's success paths are reached
// too), served in pieces of input-chosen sizes, with silence or a system error
// wherever the input puts them. A few transactions per input, with command letters
// and reply buffers of any capacity.

#include "FuzzCheck.h"
#include "communication/Checksums.h"
#include "communication/LinkSession.h"
#include "communication/Protocols.h"
#include "communication/ReplyLength.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The fuzz input read front to back, so a seed reads in the order things happen
// on the line; past its end every byte is 0.
class ByteStream {
public:
    ByteStream(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    std::size_t Number16(std::size_t limit) { // 2 bytes, big-endian, 0..limit
        const std::size_t high = Byte();
        return ((high << 8) | Byte()) % (limit + 1);
    }
    Bytes Take(std::size_t n) {
        Bytes bytes(n, 0);
        for (auto& b : bytes) {
            b = Byte();
        }
        return bytes;
    }
    bool Done() const { return at >= size; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

// The system error a read returns when the input says the device went away.
constexpr std::int32_t DeviceGone = EIO;

class FuzzPort final : public CSerial {
public:
    explicit FuzzPort(ByteStream& input) : input(input) {}

    std::size_t writes = 0;

    std::int32_t SetTimeouts(std::uint32_t) override { return 0; }

    std::int32_t Write(const void* data, std::uint32_t count, std::uint32_t* written) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        lastRequest.assign(bytes, bytes + count);
        ++writes;
        *written = count;
        PrepareReply();
        return 0;
    }

    std::int32_t Read(void* buffer, std::uint32_t count, std::uint32_t* read) override {
        *read = 0;
        // The receiver asks for the rest of its frame, never for nothing and never
        // beyond its 500-byte buffer.
        FUZZ_CHECK(count > 0);
        FUZZ_CHECK(count <= WSRX_Protocol::BufferSize);
        if (pending.empty()) {
            return Raw(LINK_ERR_TIMEOUT);
        }
        const std::uint8_t step = input.Byte();
        if (step == 0xFF) {
            pending.clear(); // the device vanished mid-reply
            return DeviceGone;
        }
        if (step == 0xFE) {
            return Raw(LINK_ERR_TIMEOUT); // a gap longer than the read's time-out
        }
        // Piece size: 1..count, but whole when the input says so (step bit 7).
        std::size_t piece = (step & 0x80) != 0 ? count : 1 + step % count;
        piece = std::min<std::size_t>({piece, count, pending.size()});
        std::memcpy(buffer, pending.data(), piece);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(piece));
        *read = static_cast<std::uint32_t>(piece);
        return 0;
    }

private:
    // The logger's reply to the request just written.
    void PrepareReply() {
        pending.clear();
        const std::uint8_t mode = input.Byte();
        if (mode < 0x20) {
            return; // silence
        }
        if (mode < 0x60) {
            // Raw bytes off the line.
            pending = input.Take(1 + input.Number16(599));
            return;
        }
        // A frame: acknowledge byte, payload, CRC.
        const std::uint8_t ackChoice = input.Byte();
        const std::uint8_t acknowledge = ackChoice < 0x60   ? Checksum8(lastRequest, true)
                                         : ackChoice < 0xC0 ? Checksum8(lastRequest, false)
                                                            : ackChoice;
        const Bytes payload = input.Take(input.Number16(520));
        pending.push_back(acknowledge);
        pending.insert(pending.end(), payload.begin(), payload.end());
        std::uint16_t crc = Crc16(pending);
        if ((mode & 0x01) != 0 && mode > 0xF0) {
            crc = static_cast<std::uint16_t>(crc ^ 0x0101); // a line error
        }
        pending.push_back(static_cast<std::uint8_t>(crc >> 8));
        pending.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        if (mode >= 0xE0 && mode <= 0xF0 && pending.size() > 1) {
            // Cut short: only the first bytes arrive.
            pending.resize(1 + mode % (pending.size() - 1));
        }
    }

    ByteStream& input;
    Bytes lastRequest;
    Bytes pending;
};

bool IsLinkCode(std::int32_t code) {
    return code == DeviceGone || code == LINK_ERR_COMMAND || code == LINK_ERR_INTERNAL_B ||
           code == LINK_ERR_TIMEOUT || code == LINK_ERR_CRC || code == LINK_ERR_ACK ||
           code == LINK_ERR_NO_REPLY_LEN;
}

// One request: the letter and its data, as the program or a stranger would send.
struct Request {
    std::uint8_t letter = 'c';
    Bytes data;
};

Request ChooseRequest(ByteStream& input) {
    Request request;
    switch (input.Byte() % 10) {
    case 0: // ReadMemory: N and a 3-byte address
        request.letter = 'c';
        request.data = {input.Byte(), 0x04, 0x00, 0x24};
        break;
    case 1:
        request.letter = 'k';
        request.data = {'/'};
        break;
    case 2:
        request.letter = 'a';
        request.data = {'/'};
        break;
    case 3:
        request.letter = 'e';
        break;
    case 4:
        request.letter = 'z';
        request.data = {input.Byte()};
        break;
    case 5:
    case 6: // variable-length replies
        request.letter = (input.Byte() & 1) != 0 ? 'g' : 'G';
        request.data = input.Take(input.Byte() % 5);
        break;
    case 7:
        request.letter = 'y';
        request.data = {0x6C, 0x2B, 0x19, 0xD4};
        break;
    case 8:
        request.letter = 'd';
        request.data = Bytes(5, 0); // N = 0: one byte to 0x000000
        break;
    default: // any byte at all, with any data
        request.letter = input.Byte();
        request.data = input.Take(input.Byte() % 9);
        break;
    }
    return request;
}

void CheckSentFrame(const WSRX_Protocol& protocol, const Request& request) {
    const auto sent = protocol.SentFrame();
    FUZZ_CHECK(sent.size() == request.data.size() + WSRX_Protocol::FrameOverhead);
    FUZZ_CHECK(sent[0] == 0x00 && sent[1] == request.letter && sent[2] == ParameterByte);
    FUZZ_CHECK(std::equal(request.data.begin(), request.data.end(), sent.begin() + 3));
    const std::uint16_t crc = Crc16(sent.first(sent.size() - 2));
    FUZZ_CHECK(sent[sent.size() - 2] == (crc >> 8) && sent[sent.size() - 1] == (crc & 0xFF));
}

void CheckTransaction(ByteStream& input, WSRX_Protocol& protocol, std::uint8_t attempts) {
    FuzzPort port(input);
    const Request request = ChooseRequest(input);
    // The caller's buffer, exactly as large as chosen, so a payload copied past
    // its end is caught.
    const std::size_t capacity = input.Number16(300);
    const auto reply = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(capacity, 1));
    std::uint32_t replyLength = 0xDEADBEEF;

    const std::int32_t result = protocol.Transact(
        &port, request.letter, ParameterByte, request.data, {reply.get(), capacity}, replyLength);

    FUZZ_CHECK(result == LINK_OK || IsLinkCode(result));
    FUZZ_CHECK(port.writes <= attempts);
    FUZZ_CHECK(protocol.ReceivedFrame().size() <= WSRX_Protocol::BufferSize);
    const std::optional<ReplyLength> expected = ExpectedReplyLength(request.letter, request.data);
    if (!expected) {
        FUZZ_CHECK(result == LINK_ERR_COMMAND && port.writes == 0);
    }
    if (result != LINK_OK) {
        FUZZ_CHECK(replyLength == 0);
        return;
    }

    // A success: a well-formed request went out, and the payload is the frame's
    // middle, whole, under a matching acknowledge byte and CRC.
    FUZZ_CHECK(expected.has_value());
    CheckSentFrame(protocol, request);
    FUZZ_CHECK(replyLength <= capacity);
    const auto frame = protocol.ReceivedFrame();
    FUZZ_CHECK(frame.size() == replyLength + 3);
    const auto sent = protocol.SentFrame();
    FUZZ_CHECK(frame[0] == Checksum8(sent, true) || frame[0] == Checksum8(sent, false));
    const std::uint16_t crc = Crc16(frame.first(frame.size() - 2));
    FUZZ_CHECK(frame[frame.size() - 2] == (crc >> 8) && frame[frame.size() - 1] == (crc & 0xFF));
    FUZZ_CHECK(std::equal(frame.begin() + 1, frame.end() - 2, reply.get()));
    // A reply cut short is validated as it came, so a frame may be shorter than
    // the command's (its callers refuse a payload they cannot use), never longer.
    if (expected->kind == ReplyLength::Kind::Fixed) {
        FUZZ_CHECK(frame.size() <= expected->frameLength);
    } else {
        FUZZ_CHECK(expected->kind == ReplyLength::Kind::Variable);
        FUZZ_CHECK(frame.size() <= VariableReplyFrameLength(frame[1]));
    }
}

// The link's commands the operations use, over the same kind of port.
void CheckCommand(ByteStream& input, std::uint8_t attempts) {
    LinkSession::portFactory = [&input] { return std::make_unique<FuzzPort>(input); };
    LinkSession link([](std::chrono::milliseconds) {});
    LinkSession::portFactory = nullptr;
    link.Configure(Protocols::DefaultTimeout, attempts);
    std::int32_t result = Raw(LINK_OK);
    switch (input.Byte() % 5) {
    case 0: {
        const std::size_t size = 1 + input.Number16(BlockSize - 1);
        const std::size_t decoded = input.Number16(size);
        const auto destination = std::make_unique<std::uint8_t[]>(size);
        std::uint32_t received = 0;
        result = link.ReadMemory(0x041FC0, {destination.get(), size}, decoded, received);
        FUZZ_CHECK(received <= size);
        // Success only with every byte the step decodes.
        FUZZ_CHECK(result != LINK_OK || received >= decoded);
        break;
    }
    case 1: {
        std::string text;
        result = link.ReadClock(text);
        FUZZ_CHECK(text.size() <= 19);
        FUZZ_CHECK(result == LINK_OK || text.empty());
        break;
    }
    case 2:
    case 3: {
        std::string text;
        result = (input.Byte() & 1) != 0 ? link.ReadStatusText(text) : link.ReadReadings(text);
        FUZZ_CHECK(text.size() <= 48);
        FUZZ_CHECK(result == LINK_OK || text.empty());
        break;
    }
    default: {
        std::optional<std::uint8_t> mask;
        result = link.RunSelfTest(mask);
        FUZZ_CHECK(result == LINK_OK || !mask.has_value());
        break;
    }
    }
    FUZZ_CHECK(result == LINK_OK || IsLinkCode(result));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteStream input(data, size);
    WSRX_Protocol protocol(WSRX_Protocol::BufferSize, WSRX_Protocol::BufferSize);
    protocol.SetSleeper([](std::chrono::milliseconds) {}); // no 200 ms pauses here
    const auto attempts = static_cast<std::uint8_t>(1 + input.Byte() % 3);
    protocol.SetRetryCount(attempts);
    const int transactions = 1 + input.Byte() % 4;
    for (int i = 0; i < transactions && (i == 0 || !input.Done()); ++i) {
        // Bit 7 of the first byte: a command function instead of a bare transaction.
        if (input.Byte() >= 0x80) {
            CheckCommand(input, attempts);
        } else {
            CheckTransaction(input, protocol, attempts);
        }
    }
    return 0;
}
