// The IncludeLocalGUI marker scan over the plain policy text, as the text-mode reader hands it
// out: pieces of at most kPolicyPieceChars characters (a line with its line feed, or the next
// kPolicyPieceChars characters of a longer line), each examined up to its first zero byte.
// Portable: no <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace policy_ui {

constexpr const char kMarkerTrue[] = "IncludeLocalGUI='true'";
constexpr const char kMarkerFalse[] = "IncludeLocalGUI='false'";
constexpr size_t kMarkerTrueChars = sizeof(kMarkerTrue) - 1;
constexpr size_t kMarkerFalseChars = sizeof(kMarkerFalse) - 1;
// Characters of one piece: what fgets delivers into a buffer of kPolicyPieceChars + 1.
constexpr size_t kPolicyPieceChars = 268;

enum class PolicyMarker { None, True, False };

// Feeds the pieces in file order. A marker counts in the piece where it ends, so a marker that a
// long line's piece boundary cuts is still found: each piece is searched together with the last
// characters of the previous piece of the same line, never across a line end, and never across a
// piece that was cut short by a zero byte. The search is exact and case-sensitive; within a
// piece the 'true' marker wins; the first piece that holds a marker decides for good.
class PolicyScanner {
  public:
    // Examines the piece (zero-terminated; null counts as empty) and returns the decision so far.
    PolicyMarker Feed(const char* piece);
    PolicyMarker result() const { return result_; }

  private:
    // Long enough to hold all but the last character of the longer marker.
    static constexpr size_t kTailChars = kMarkerFalseChars - 1;

    bool EndsInPiece(const char* marker,
                     size_t markerLen,
                     const char* piece,
                     size_t pieceLen) const;

    char tail_[kTailChars] = {};
    size_t tailLen_ = 0;
    PolicyMarker result_ = PolicyMarker::None;
};

// What a PolicyScanner concludes over the pieces that fgets in text mode hands out of a file
// holding the bytes pushed, in order: a carriage return right before a line feed is dropped, a
// Ctrl-Z byte ends the text, and the pieces are cut as SplitLikeFgets cuts them. The bytes may
// come in blocks of any size.
//
// It does not cut pieces: a policy of hundreds of megabytes would cost a call per line. It
// searches each block once for the markers and, for a marker it finds, works out what the
// piece-by-piece scan makes of it: the marker ends in piece k of its line (pieces start every
// kPolicyPieceChars characters of a line), and counts when no zero byte precedes it in that
// piece nor, for a marker that starts in piece k - 1, anywhere in that piece. The first piece
// where a marker counts decides, 'true' winning within it.
class TextModeScan {
  public:
    // False once the decision is made or the text has ended: more bytes change nothing.
    bool Push(const uint8_t* data, size_t size);
    // The end of the file: the decision.
    PolicyMarker Finish();

  private:
    // Characters of the current line kept from earlier blocks: a counted marker and the pieces
    // its count depends on span at most two pieces.
    static constexpr size_t kCarryChars = 2 * kPolicyPieceChars;

    void Scan(const uint8_t* text, size_t size);
    // `text` holds the current line's characters from offset `lineBase` on; earlier ones are
    // in the carry.
    void Consider(bool isTrue, uint64_t start, const uint8_t* text, uint64_t lineBase);
    bool ZeroFree(uint64_t from, uint64_t to, const uint8_t* text, uint64_t lineBase) const;
    // The pending piece has ended: 'false' decides.
    void Settle() {
        if (result_ == PolicyMarker::None && pending_)
            result_ = PolicyMarker::False;
    }

    uint64_t lineChars_ = 0;  // characters of the current line so far (a pending CR not counted)
    std::string carry_;       // its last characters, at most kCarryChars
    bool pendingCr_ = false;  // the last byte was a carriage return: dropped if a line feed follows
    bool ended_ = false;
    PolicyMarker result_ = PolicyMarker::None;
    // A 'false' marker counted; a 'true' one may still end in the same piece, which ends at
    // this offset of the current line.
    bool pending_ = false;
    uint64_t pendingPieceEnd_ = 0;
};

// The pieces fgets(buffer, bufferSize, file) returns, one after the other, for a stream that
// delivers these bytes: each holds up to bufferSize - 1 bytes and ends after a line feed; zero
// bytes are kept (a reader of the piece stops at the first one). Text-mode translation, if any,
// is the caller's: pass the bytes as the stream delivers them. Empty for a bufferSize below 2.
std::vector<std::string> SplitLikeFgets(const uint8_t* data,
                                        size_t size,
                                        size_t bufferSize = kPolicyPieceChars + 1);

// Splits the text like fgets and feeds every piece until one decides.
PolicyMarker ScanPolicyText(const uint8_t* data, size_t size);

}  // namespace policy_ui
