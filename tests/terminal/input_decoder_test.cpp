// Bytes from the terminal to keys and clicks.
#include "frontend/terminal/input_decoder.h"

#include <gtest/gtest.h>

namespace vgps::term {
namespace {

using K = InputEvent::Kind;

std::vector<K> kinds(const std::vector<InputEvent>& events) {
    std::vector<K> out;
    for (const auto& e : events) out.push_back(e.kind);
    return out;
}

TEST(InputDecoder, KeysInBothCursorModesAndTheKeysOfTheirOwn) {
    InputDecoder d;
    EXPECT_EQ(kinds(d.feed("\t\x1b[Z\r\n \x7f\x08")),
              (std::vector<K>{K::Tab, K::BackTab, K::Enter, K::Enter, K::Character, K::Backspace, K::Backspace}));
    EXPECT_EQ(kinds(d.feed("\x1b[A\x1b[B\x1b[C\x1b[D\x1bOA\x1bOB\x1b[1;2C\x1b[5~\x1b[6~\x1b[H\x1b[4~")),
              (std::vector<K>{K::Up, K::Down, K::Right, K::Left, K::Up, K::Down, K::Right, K::PageUp, K::PageDown,
                              K::Home, K::End}));
    const auto chars = d.feed("q\x03\x0c\xc3\xa9");
    ASSERT_EQ(chars.size(), 4u);
    EXPECT_EQ(chars[0].character, U'q');
    EXPECT_EQ(chars[1].kind, K::Control);
    EXPECT_EQ(chars[1].character, 3u);
    EXPECT_EQ(chars[2].character, 0x0cu);
    EXPECT_EQ(chars[3].character, U'é');
    // Unknown sequences and focus reports are swallowed whole.
    EXPECT_TRUE(d.feed("\x1b[200~\x1b[I\x1b[?1;2c").empty());
    EXPECT_FALSE(d.pending());
}

TEST(InputDecoder, MouseReportsInTheSgrAndTheOlderForm) {
    InputDecoder d;
    auto e = d.feed("\x1b[<0;20;19M\x1b[<0;20;19m\x1b[<64;3;4M\x1b[<65;3;4M\x1b[<2;1;1M\x1b[<32;5;5M");
    ASSERT_EQ(e.size(), 5u);  // motion is dropped
    EXPECT_EQ(e[0], (InputEvent{K::MousePress, 0, 19, 18, 0}));
    EXPECT_EQ(e[1], (InputEvent{K::MouseRelease, 0, 19, 18, 0}));
    EXPECT_EQ(e[2].kind, K::WheelUp);
    EXPECT_EQ(e[3].kind, K::WheelDown);
    EXPECT_EQ(e[4], (InputEvent{K::MousePress, 0, 0, 0, 2}));
    // X10: ESC [ M, then button, column and line plus 32 (and 1).
    e = d.feed("\x1b[M !&\x1b[M#!&");
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0], (InputEvent{K::MousePress, 0, 0, 5, 0}));
    EXPECT_EQ(e[1].kind, K::MouseRelease);
}

TEST(InputDecoder, ASequenceSplitAcrossReadsWaitsAndALoneEscapeIsTheKey) {
    InputDecoder d;
    EXPECT_TRUE(d.feed("\x1b").empty());
    EXPECT_TRUE(d.pending());
    EXPECT_TRUE(d.feed("[<0;2").empty());
    EXPECT_EQ(kinds(d.feed(";3M")), (std::vector<K>{K::MousePress}));
    EXPECT_FALSE(d.pending());
    // Escape pressed alone: nothing more comes.
    EXPECT_TRUE(d.feed("\x1b").empty());
    EXPECT_EQ(kinds(d.flush()), (std::vector<K>{K::Escape}));
    // Escape then a key typed before the wait ended; two Escapes.
    EXPECT_EQ(kinds(d.feed("\x1bq")), (std::vector<K>{K::Escape, K::Character}));
    EXPECT_EQ(kinds(d.feed("\x1b\x1b")), (std::vector<K>{K::Escape}));
    EXPECT_EQ(kinds(d.flush()), (std::vector<K>{K::Escape}));
    // A sequence that never ends is dropped, and decoding goes on.
    EXPECT_TRUE(d.feed("\x1b[" + std::string(100, '1')).empty());
    EXPECT_FALSE(d.pending());
    EXPECT_EQ(kinds(d.feed("\t")), (std::vector<K>{K::Tab}));
}

}  // namespace
}  // namespace vgps::term
