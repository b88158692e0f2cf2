#include "policy_ui/policy_scan.h"

#include <cstring>
#include <new>

namespace policy_ui {

// A marker that ends in this piece: either it lies wholly inside the piece, or it starts in the
// tail kept from the previous piece and reaches into this one.
bool PolicyScanner::EndsInPiece(const char* marker,
                                size_t markerLen,
                                const char* piece,
                                size_t pieceLen) const {
    if (std::strstr(piece, marker))
        return true;
    if (tailLen_ == 0)
        return false;
    char joined[kTailChars + kMarkerFalseChars];
    const size_t head = pieceLen < markerLen - 1 ? pieceLen : markerLen - 1;
    std::memcpy(joined, tail_, tailLen_);
    std::memcpy(joined + tailLen_, piece, head);
    const size_t joinedLen = tailLen_ + head;
    const size_t first = tailLen_ >= markerLen - 1 ? tailLen_ - (markerLen - 1) : 0;
    for (size_t start = first; start < tailLen_ && start + markerLen <= joinedLen; ++start) {
        if (std::memcmp(joined + start, marker, markerLen) == 0)
            return true;
    }
    return false;
}

PolicyMarker PolicyScanner::Feed(const char* piece) {
    if (result_ != PolicyMarker::None)
        return result_;
    if (!piece)
        piece = "";
    const size_t len = std::strlen(piece);
    if (EndsInPiece(kMarkerTrue, kMarkerTrueChars, piece, len)) {
        result_ = PolicyMarker::True;
    } else if (EndsInPiece(kMarkerFalse, kMarkerFalseChars, piece, len)) {
        result_ = PolicyMarker::False;
    }
    // The line goes on in the next piece only when this one was full and not ended by a line
    // feed; a shorter piece ended at a zero byte or at the end of the text.
    if (len >= kPolicyPieceChars && piece[len - 1] != '\n') {
        std::memcpy(tail_, piece + len - kTailChars, kTailChars);
        tailLen_ = kTailChars;
    } else {
        tailLen_ = 0;
    }
    return result_;
}

std::vector<std::string> SplitLikeFgets(const uint8_t* data, size_t size, size_t bufferSize) {
    std::vector<std::string> pieces;
    if (bufferSize < 2 || !data)
        return pieces;
    const size_t most = bufferSize - 1;
    size_t pos = 0;
    while (pos < size) {
        size_t end = pos;
        while (end < size && end - pos < most) {
            if (data[end++] == '\n')
                break;
        }
        pieces.emplace_back(reinterpret_cast<const char*>(data + pos), end - pos);
        pos = end;
    }
    return pieces;
}

PolicyMarker ScanPolicyText(const uint8_t* data, size_t size) {
    PolicyScanner scanner;
    try {
        for (const std::string& piece : SplitLikeFgets(data, size)) {
            if (scanner.Feed(piece.c_str()) != PolicyMarker::None)
                break;
        }
    } catch (const std::bad_alloc&) {
        return PolicyMarker::None;
    }
    return scanner.result();
}

namespace {

constexpr uint8_t kCtrlZ = 0x1A;
constexpr char kMarkerStart[] = "IncludeLocalGUI='";
constexpr size_t kMarkerStartChars = sizeof(kMarkerStart) - 1;
// The markers are found by their 'G', a letter most policies seldom hold elsewhere.
constexpr size_t kAnchorAt = 12;

// The first byte c among n, or null: a word at a time, as C runtimes do not everywhere.
const uint8_t* FindByte(const uint8_t* p, size_t n, uint8_t c) {
    constexpr size_t kOnes = ~size_t(0) / 0xFF;
    constexpr size_t kHighs = kOnes * 0x80;
    const size_t pattern = kOnes * c;
    size_t i = 0;
    for (; i + sizeof(size_t) <= n; i += sizeof(size_t)) {
        size_t word;
        std::memcpy(&word, p + i, sizeof(word));
        word ^= pattern;
        if ((word - kOnes) & ~word & kHighs)
            break;  // a byte of this word is c
    }
    for (; i < n; ++i) {
        if (p[i] == c)
            return p + i;
    }
    return nullptr;
}

// Which marker the n bytes at p begin with: 1 'true', 2 'false', 0 none (or not all there).
int MarkerAt(const uint8_t* p, size_t n) {
    if (n >= kMarkerTrueChars && std::memcmp(p, kMarkerTrue, kMarkerTrueChars) == 0)
        return 1;
    if (n >= kMarkerFalseChars && std::memcmp(p, kMarkerFalse, kMarkerFalseChars) == 0)
        return 2;
    return 0;
}

}  // namespace

// The characters [from, to) of the current line hold no zero byte. The line's character at
// offset o is text[o - lineBase]; before the text (a line begun in an earlier block) it is in
// the carry.
bool TextModeScan::ZeroFree(uint64_t from,
                            uint64_t to,
                            const uint8_t* text,
                            uint64_t lineBase) const {
    if (from < lineBase) {
        const size_t back = static_cast<size_t>(lineBase - from);
        const size_t upTo = static_cast<size_t>(std::min(to, lineBase) - from);
        const uint8_t* carried = reinterpret_cast<const uint8_t*>(carry_.data());
        if (back > carry_.size() || FindByte(carried + carry_.size() - back, upTo, 0))
            return false;
        from = lineBase;
    }
    return from >= to || !FindByte(text + (from - lineBase), static_cast<size_t>(to - from), 0);
}

// A marker at offset `start` of the current line: does it count, and what does it decide.
void TextModeScan::Consider(bool isTrue, uint64_t start, const uint8_t* text, uint64_t lineBase) {
    const uint64_t end = start + (isTrue ? kMarkerTrueChars : kMarkerFalseChars);
    const uint64_t pieceStart = (end - 1) / kPolicyPieceChars * kPolicyPieceChars;
    const uint64_t from = start < pieceStart ? pieceStart - kPolicyPieceChars : pieceStart;
    if (!ZeroFree(from, end, text, lineBase))
        return;
    if (pending_) {
        if (end > pendingPieceEnd_)
            Settle();  // a later piece: the earlier one held 'false' alone
        else if (isTrue)
            result_ = PolicyMarker::True;
        return;
    }
    if (isTrue) {
        result_ = PolicyMarker::True;
    } else {
        pending_ = true;
        pendingPieceEnd_ = pieceStart + kPolicyPieceChars;
    }
}

// Text without Ctrl-Z; a carriage return before it has been dealt with.
void TextModeScan::Scan(const uint8_t* text, size_t size) {
    size_t m = size;
    const bool endsInCr = m > 0 && text[m - 1] == '\r';
    if (endsInCr)
        --m;                           // waits for the next byte
    const uint64_t base = lineChars_;  // the current line's offset of text[0]
    // Markers that begin in the carry and end in this text.
    if (!carry_.empty() && m > 0) {
        constexpr size_t kMost = kMarkerFalseChars - 1;
        const size_t tail = std::min(carry_.size(), kMost);
        const size_t head = std::min(m, kMost);
        uint8_t joined[2 * kMost];
        std::memcpy(joined, carry_.data() + carry_.size() - tail, tail);
        std::memcpy(joined + tail, text, head);
        for (size_t at = 0; at < tail && result_ == PolicyMarker::None; ++at) {
            if (joined[at] != kMarkerStart[0])
                continue;
            const int marker = MarkerAt(joined + at, tail + head - at);
            if (marker != 0)
                Consider(marker == 1, base - tail + at, text, base);
        }
    }
    // Markers within the text, in order; line feeds are looked for only up to each one.
    bool begunBefore = true;  // the line being looked at began before this text
    size_t start = 0;         // else its first index in the text
    size_t checked = 0;       // line feeds before this index are accounted for
    size_t pendingFrom = 0;   // a line feed from this index on ends the pending piece
    size_t from = kAnchorAt;
    while (result_ == PolicyMarker::None && from < m) {
        const uint8_t* g = FindByte(text + from, m - from, 'G');
        if (!g)
            break;
        const size_t at = static_cast<size_t>(g - text) - kAnchorAt;
        from = static_cast<size_t>(g - text) + 1;
        const int marker = m - at >= kMarkerStartChars &&
                                   std::memcmp(text + at, kMarkerStart, kMarkerStartChars) == 0
                               ? MarkerAt(text + at, m - at)
                               : 0;
        if (marker == 0)
            continue;  // not a marker, or one that ends in the next block
        while (const uint8_t* feed = FindByte(text + checked, at - checked, '\n')) {
            begunBefore = false;
            start = static_cast<size_t>(feed - text) + 1;
            checked = start;
            Settle();  // a pending piece ended with its line
        }
        checked = at;
        if (result_ != PolicyMarker::None)
            break;
        const bool wasPending = pending_;
        if (begunBefore)
            Consider(marker == 1, base + at, text, base);
        else
            Consider(marker == 1, at - start, text + start, 0);
        if (!wasPending && pending_)
            pendingFrom = at + kMarkerFalseChars;
    }
    if (result_ != PolicyMarker::None)
        return;
    // The current line after this text, and its last characters.
    size_t lastFeed = m;
    for (size_t i = m; i > 0; --i) {
        if (text[i - 1] == '\n') {
            lastFeed = i - 1;
            break;
        }
    }
    if (pending_ && lastFeed != m && lastFeed >= pendingFrom)
        Settle();  // the pending piece's line ended in this text
    if (lastFeed != m) {
        lineChars_ = m - lastFeed - 1;
        const size_t keep = std::min<size_t>(static_cast<size_t>(lineChars_), kCarryChars);
        carry_.assign(reinterpret_cast<const char*>(text + m - keep), keep);
    } else {
        lineChars_ += m;
        const size_t keep = std::min(m, kCarryChars);
        carry_.append(reinterpret_cast<const char*>(text + m - keep), keep);
        if (carry_.size() > kCarryChars)
            carry_.erase(0, carry_.size() - kCarryChars);
    }
    if (pending_ && lineChars_ >= pendingPieceEnd_)
        Settle();  // the pending piece is whole
    pendingCr_ = endsInCr;
}

bool TextModeScan::Push(const uint8_t* data, size_t size) {
    if (ended_ || result_ != PolicyMarker::None || !data)
        return !ended_ && result_ == PolicyMarker::None;
    const uint8_t* ctrlZ = FindByte(data, size, kCtrlZ);
    const size_t n = ctrlZ ? static_cast<size_t>(ctrlZ - data) : size;
    size_t skip = 0;
    if (pendingCr_ && n > 0) {
        pendingCr_ = false;
        if (data[0] == '\n') {
            // Carriage return and line feed: the line ends.
            skip = 1;
            lineChars_ = 0;
            carry_.clear();
            Settle();
        } else {
            // A carriage return alone is a character of the line.
            carry_.push_back('\r');
            if (carry_.size() > kCarryChars)
                carry_.erase(0, 1);
            ++lineChars_;
            if (pending_ && lineChars_ >= pendingPieceEnd_)
                Settle();
        }
    }
    if (result_ == PolicyMarker::None)
        Scan(data + skip, n - skip);
    if (ctrlZ) {
        ended_ = true;
        Settle();
    }
    return !ended_ && result_ == PolicyMarker::None;
}

PolicyMarker TextModeScan::Finish() {
    // The text ends here (or ended at a Ctrl-Z): a pending piece ends with it.
    Settle();
    ended_ = true;
    return result_;
}

}  // namespace policy_ui
