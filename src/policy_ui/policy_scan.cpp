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

void TextModeScan::Put(char c) {
    piece_.push_back(c);
    if (c == '\n' || piece_.size() == kPolicyPieceChars) {
        scanner_.Feed(piece_.c_str());
        piece_.clear();
    }
}

bool TextModeScan::Push(const uint8_t* data, size_t size) {
    constexpr uint8_t kCtrlZ = 0x1A;
    for (size_t i = 0; i < size && !ended_ && scanner_.result() == PolicyMarker::None; ++i) {
        const char c = static_cast<char>(data[i]);
        if (pendingCr_) {
            pendingCr_ = false;
            if (c == '\n') {
                Put('\n');
                continue;
            }
            Put('\r');
        }
        if (data[i] == kCtrlZ) {
            ended_ = true;
        } else if (c == '\r') {
            pendingCr_ = true;
        } else {
            Put(c);
        }
    }
    return !ended_ && scanner_.result() == PolicyMarker::None;
}

PolicyMarker TextModeScan::Finish() {
    // The text ends here (or ended at a Ctrl-Z): what was read of the last piece still counts.
    if (scanner_.result() == PolicyMarker::None) {
        if (pendingCr_)
            Put('\r');
        if (!piece_.empty())
            scanner_.Feed(piece_.c_str());
    }
    pendingCr_ = false;
    piece_.clear();
    ended_ = true;
    return scanner_.result();
}

}  // namespace policy_ui
