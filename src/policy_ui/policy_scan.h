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

// Feeds a PolicyScanner the pieces that fgets in text mode hands out of a file that holds the
// bytes pushed, in order: a carriage return right before a line feed is dropped, a Ctrl-Z byte
// ends the text, and the pieces are cut as SplitLikeFgets cuts them. For a policy read in
// memory, block by block, as readPolicy reads policy.txt.
class TextModeScan {
  public:
    // False once the decision is made or the text has ended: more bytes change nothing.
    bool Push(const uint8_t* data, size_t size);
    // The end of the file: hands out what is left and returns the decision.
    PolicyMarker Finish();

  private:
    void Put(char c);

    PolicyScanner scanner_;
    std::string piece_;
    bool pendingCr_ = false;
    bool ended_ = false;
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
