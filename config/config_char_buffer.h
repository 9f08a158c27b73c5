#pragma once
// The character buffer of the configuration lexer.
//
// ANTLR 2.7.7's input buffer keeps every character read while a mark is active, and gives them
// back only when that mark is rewound, never when it is committed. The lexer marks every token
// and commits every token it forms, so the whole file would stay buffered (as ints, four times
// its size) and every growth of the buffer would copy it. This buffer drops the characters of
// committed tokens once no mark is left.

#include <antlr/CharBuffer.hpp>
#include <cstddef>
#include <istream>

namespace vantrel {

class ConfigCharBuffer : public antlr::CharBuffer {
  public:
    explicit ConfigCharBuffer(std::istream& in) : antlr::CharBuffer(in) {}

    // Called after a commit: with no mark left, nothing before the current position can be
    // needed again.
    void release() {
        if (nMarkers != 0 || markerOffset == 0) return;
        queue.removeItems(markerOffset);
        markerOffset = 0;
    }

    // Characters held, consumed or not.
    std::size_t held() const { return queue.entries(); }
};

}  // namespace vantrel
