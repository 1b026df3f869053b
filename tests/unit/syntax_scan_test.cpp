#include "lang/syntax_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The check as a plain loop over the whole text: what the fast scanner must agree with.
std::size_t referenceScan(const std::string& text) {
    std::size_t p = 0;
    while (p < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[p]);
        if (std::strchr("+-><.,[]@&*", c) && c != 0) { ++p; continue; }
        if (c == '%' || c == '#') {
            ++p;
            while (p < text.size()) {
                unsigned char d = static_cast<unsigned char>(text[p++]);
                if (d == '\r' || d == '\n' || d == 0) break;
            }
            continue;
        }
        if (c == '\r' || c == '\n' || c == '$' || c == ' ' || c == 0) { ++p; continue; }
        return p;
    }
    return text.size();
}

const unsigned char* bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }

std::size_t scanWhole(const std::string& text) {
    SyntaxScanState state;
    return scanSyntax(state, bytes(text), text.size());
}

// Scans in pieces of the given sizes, as the control hands them out.
std::size_t scanPieces(const std::string& text, const std::vector<std::size_t>& cuts) {
    SyntaxScanState state;
    std::size_t start = 0;
    for (std::size_t cut : cuts) {
        std::size_t at = scanSyntax(state, bytes(text) + start, cut - start);
        if (at < cut - start) return start + at;
        start = cut;
    }
    std::size_t at = scanSyntax(state, bytes(text) + start, text.size() - start);
    return start + at;
}

} // namespace

TEST(SyntaxScan, AcceptsEveryClassOfTheExtendedSyntax) {
    EXPECT_EQ(scanWhole(""), 0u);
    std::string all = "+-><.,[]@&*\r\n $";
    all.push_back('\0');
    EXPECT_EQ(scanWhole(all), all.size());
    std::string stringLine = "%\"unclosed string, letters 123\n+";
    EXPECT_EQ(scanWhole(stringLine), stringLine.size());
    std::string comment = "# comment with anything: \t\x80\xff\r+";
    EXPECT_EQ(scanWhole(comment), comment.size());
}

TEST(SyntaxScan, NamesTheFirstInvalidByte) {
    EXPECT_EQ(scanWhole("+-x"), 2u);
    EXPECT_EQ(scanWhole("\t"), 0u);
    EXPECT_EQ(scanWhole("+\"+"), 1u);              // a quote outside a string line
    EXPECT_EQ(scanWhole("#c\nz"), 3u);             // the comment ended at LF
    EXPECT_EQ(scanWhole("%s\rq"), 3u);              // CR alone ends a string line
    EXPECT_EQ(scanWhole(std::string("#c\0y", 4)), 3u);  // so does NUL
    EXPECT_EQ(scanWhole("=") , 0u);                  // between '<' and '>' but not a command
    EXPECT_EQ(scanWhole("\x80"), 0u);
    EXPECT_EQ(scanWhole("\xff"), 0u);
}

TEST(SyntaxScan, RunStartAsTheVeryLastByteEndsTheScan) {
    EXPECT_EQ(scanWhole("+%"), 2u);
    EXPECT_EQ(scanWhole("+#"), 2u);
}

TEST(SyntaxScan, InvalidByteInEveryPositionOfAWideBlock) {
    for (std::size_t length = 1; length < 70; ++length)
        for (std::size_t bad = 0; bad < length; ++bad) {
            std::string text(length, '+');
            text[bad] = 'a';
            ASSERT_EQ(scanWhole(text), bad) << length << " " << bad;
        }
}

TEST(SyntaxScan, RunCarriesOverPieceBoundaries) {
    std::string text = "+#comment xyz\n+%string abc\r\n-q";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        ASSERT_EQ(scanPieces(text, {cut}), text.size() - 1) << cut;
        for (std::size_t second = cut; second <= text.size(); ++second)
            ASSERT_EQ(scanPieces(text, {cut, second}), text.size() - 1) << cut << " " << second;
    }
}

TEST(SyntaxScan, InvalidByteFarBeyondThirtyThousand) {
    std::string text(40000, '+');
    text += 'w';
    text += "+++";
    EXPECT_EQ(scanWhole(text), 40000u);
}

TEST(SyntaxScan, AgreesWithThePlainLoopOnRandomTextsAndPieces) {
    std::mt19937 random(12345);
    const std::string alphabet = std::string("+-<>.,[]@&*$ \r\n%#%#xa\t\"=") + '\0' + "\x80\xff";
    for (int round = 0; round < 3000; ++round) {
        std::size_t length = random() % 200;
        std::string text;
        // Mostly valid text, so the scan runs long enough to meet runs and wide blocks.
        for (std::size_t i = 0; i < length; ++i) {
            bool rare = random() % 40 == 0;
            text.push_back(rare ? alphabet[random() % alphabet.size()] : alphabet[random() % 16]);
        }
        std::vector<std::size_t> cuts;
        for (std::size_t at = random() % 40; at < length; at += 1 + random() % 40) cuts.push_back(at);
        std::size_t expected = referenceScan(text);
        ASSERT_EQ(scanWhole(text), expected) << round;
        ASSERT_EQ(scanPieces(text, cuts), expected) << round;
    }
}

TEST(FormatInvalidCharacter, PutsTheByteInPlaceAndFitsTheBuffer) {
    const char* format = "An error occurred, '%c' is an invalid character.";
    char message[48];
    formatInvalidCharacter(message, sizeof message, format, 'x');
    EXPECT_STREQ(message, "An error occurred, 'x' is an invalid character.");
    EXPECT_EQ(std::strlen(message), 47u);
    formatInvalidCharacter(message, sizeof message, format, '\xe9');
    EXPECT_EQ(static_cast<unsigned char>(message[20]), 0xe9);
    char small[10];
    formatInvalidCharacter(small, sizeof small, format, 'x');
    EXPECT_STREQ(small, "An error ");
}
