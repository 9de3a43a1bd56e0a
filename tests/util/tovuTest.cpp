#include <climits>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "util/tovu.h"

using tovu::String;

namespace {

std::string text(const String& s) {
    return std::string(s.buffer, s.length);
}

// Applies edit to a String holding start and returns the text it leaves,
// after checking the terminator that every operation must keep.
template <typename Edit> std::string edited(const char* start, Edit edit) {
    String s(start);
    edit(&s);
    EXPECT_GE(s.capacity, s.length + 1);
    EXPECT_EQ(s.buffer[s.length], 0);
    return text(s);
}

std::string field(const char* line, char separator, int index) {
    String out("previous");
    String(line).split(&out, separator, index);
    EXPECT_EQ(out.buffer[out.length], 0);
    return text(out);
}

} // namespace

TEST(StringTest, FreeFunctions) {
    EXPECT_EQ(tovu::getPathSeparator(), '/');
    EXPECT_EQ(tovu::getLineSeparator(), '\n');
    EXPECT_EQ(tovu::stringLength("ab\0cd"), 2);
    EXPECT_EQ(tovu::stringLength(nullptr), 0);
    EXPECT_TRUE(tovu::equals("abc", "abc"));
    EXPECT_FALSE(tovu::equals("abc", "abcd"));
    EXPECT_FALSE(tovu::equals("abcd", "abc"));
}

TEST(StringTest, ConstructorsAndCopies) {
    EXPECT_EQ(String().capacity, 10);
    EXPECT_EQ(String(1024).capacity, 1024);
    EXPECT_EQ(String(-5).capacity, 0);
    EXPECT_EQ(String("hello").capacity, 6);

    String original("hello");
    String copy(&original);
    original.set("other");
    EXPECT_EQ(text(copy), "hello");
    EXPECT_EQ(copy.capacity, 6);

    std::unique_ptr<char[]> owned(copy.toString());
    copy.set("changed");
    EXPECT_STREQ(owned.get(), "hello");
    char printed[8];
    copy.print(printed);
    EXPECT_STREQ(printed, "changed");

    String roomy(100);
    roomy.set("abcd");
    EXPECT_EQ(roomy.getMemory(), 4 + static_cast<int>(sizeof(String)));
}

TEST(StringTest, ZeroCapacityGetsRoomForTerminator) {
    String cleared(0);
    cleared.clear();
    ASSERT_GE(cleared.capacity, 1);
    EXPECT_EQ(cleared.buffer[0], 0);
    EXPECT_TRUE(String(0).isInteger());
    String target(0);
    String("a,b").split(&target, ',', 1);
    EXPECT_EQ(text(target), "b");
    for (int value : {7, -2147483647 - 1}) {
        String number(0);
        number.append(value);
        EXPECT_EQ(text(number), std::to_string(value));
        EXPECT_GE(number.capacity, number.length + 1);
    }
    char printed[1] = {'x'};
    String(0).print(printed);
    EXPECT_EQ(printed[0], 0);
}

TEST(StringTest, GrowthSteps) {
    String chars;
    for (int i = 0; i < 9; i++)
        chars.append('a');
    EXPECT_EQ(chars.capacity, 10);
    chars.append('b');
    EXPECT_EQ(chars.capacity, 20);
    chars.insert(0, 'c');
    EXPECT_EQ(chars.capacity, 20);

    String set;
    set.set("abc");
    EXPECT_EQ(set.capacity, 10);
    set.set("0123456789");
    EXPECT_EQ(set.capacity, 11);
    set.set("x");
    EXPECT_EQ(set.capacity, 11);

    String appended("ab");
    appended.append("cd");
    EXPECT_EQ(appended.capacity, 5);
    appended.append("");
    appended.insert(1, "XY");
    EXPECT_EQ(appended.capacity, 7);

    String number("x");
    number.append(-305);
    EXPECT_EQ(number.capacity, 6);
    String fits;
    fits.append(12345);
    EXPECT_EQ(fits.capacity, 10);

    String sized("abc");
    sized.increaseSize(-3);
    sized.increaseSize(5);
    EXPECT_EQ(sized.capacity, 9);
    EXPECT_EQ(text(sized), "abc");
}

TEST(StringTest, TargetsGrowInFixedSteps) {
    // A split target grows in steps of 10, as if filled one character at a time.
    String out;
    String("0123456789012345678901234,x").split(&out, ',', 0);
    EXPECT_EQ(out.capacity, 30);
    String("123456789").split(&out, ',', 0);
    EXPECT_EQ(out.capacity, 30);
    String exact;
    String("1234567890").split(&exact, ',', 0);
    EXPECT_EQ(exact.capacity, 20);

    String suffix("zz");
    String source("abcdefghijklmnop");
    source.subString(&suffix, 20);
    EXPECT_EQ(text(suffix), "zz");
    source.subString(&suffix, 3);
    EXPECT_EQ(text(suffix), "defghijklmnop");
    EXPECT_EQ(suffix.capacity, 14);
    EXPECT_EQ(text(source), "abcdefghijklmnop");
}

TEST(StringTest, Edits) {
    EXPECT_EQ(edited("x", [](String* s) { s->append(-305); }), "x-305");
    EXPECT_EQ(edited("", [](String* s) { s->append(0); }), "0");
    EXPECT_EQ(edited("",
                     [](String* s) {
                         s->append(INT_MIN);
                         s->append(INT_MAX);
                     }),
              "-21474836482147483647");
    EXPECT_EQ(edited("bc", [](String* s) { s->insert(0, 'a'); }), "abc");
    EXPECT_EQ(edited("bc", [](String* s) { s->insert(2, 'd'); }), "bcd");
    EXPECT_EQ(edited("bc",
                     [](String* s) {
                         s->insert(3, 'a');
                         s->insert(-1, 'a');
                     }),
              "bc");
    EXPECT_EQ(edited("bc", [](String* s) { s->insert(1, "XY"); }), "bXYc");
    EXPECT_EQ(edited("bc", [](String* s) { s->insert(3, "XY"); }), "bc");
    EXPECT_EQ(edited("abcd", [](String* s) { s->subString(1, 3); }), "bc");
    EXPECT_EQ(edited("abcd", [](String* s) { s->subString(1, 9); }), "bcd");
    EXPECT_EQ(edited("abcd", [](String* s) { s->subString(3, 1); }), "abcd");
    EXPECT_EQ(edited("abcd",
                     [](String* s) {
                         s->subString(5, 6);
                         s->subString(0, -1);
                     }),
              "abcd");
    EXPECT_EQ(edited("abcd", [](String* s) { s->subString(2); }), "cd");
    EXPECT_EQ(edited("abcd", [](String* s) { s->subString(4); }), "");
    EXPECT_EQ(edited("abcd", [](String* s) { s->subString(5); }), "abcd");
    EXPECT_EQ(edited("  a b  ", [](String* s) { s->trim(); }), "a b");
    EXPECT_EQ(edited("\t a ", [](String* s) { s->trim(); }), "\t a");
    EXPECT_EQ(edited("    ", [](String* s) { s->trim(); }), "");
}

TEST(StringTest, EditsFromOwnText) {
    EXPECT_EQ(edited("abc", [](String* s) { s->append(s); }), "abcabc");
    EXPECT_EQ(edited("abc", [](String* s) { s->append(s->buffer + 1); }), "abcbc");
    EXPECT_EQ(edited("abc", [](String* s) { s->insert(0, s->buffer + 1); }), "bcabc");
    EXPECT_EQ(edited("abc", [](String* s) { s->set(s); }), "abc");
    EXPECT_EQ(edited("abc", [](String* s) { s->set(s->buffer + 1); }), "bc");
    EXPECT_EQ(edited("a,b", [](String* s) { s->split(s, ',', 1); }), "b");
    EXPECT_EQ(edited("abc", [](String* s) { s->subString(s, 1); }), "bc");
}

TEST(StringTest, SplitFields) {
    EXPECT_EQ(field("10,5,1", ',', 0), "10");
    EXPECT_EQ(field("10,5,1", ',', 1), "5");
    EXPECT_EQ(field("10,5,1", ',', 2), "1");
    EXPECT_EQ(field("10,5,1", ',', 3), "");
    EXPECT_EQ(field("10,5,1", ',', -1), "");
    EXPECT_EQ(field("a,,b", ',', 1), "");
    EXPECT_EQ(field("a,,b", ',', 2), "b");
    EXPECT_EQ(field(",a", ',', 0), "");
    EXPECT_EQ(field("a,", ',', 1), "");
    EXPECT_EQ(field("", ',', 0), "");
    EXPECT_EQ(field("no separator", ',', 0), "no separator");
    EXPECT_EQ(field("  x y", ' ', 2), "x");
}

TEST(StringTest, Comparisons) {
    String s("abcdef");
    String prefix("abc");
    String suffix("ef");
    EXPECT_TRUE(s.contains(""));
    EXPECT_TRUE(s.contains("cde"));
    EXPECT_FALSE(s.contains("abcdefg"));
    EXPECT_FALSE(s.contains("ce"));
    EXPECT_TRUE(s.equals("abcdef"));
    EXPECT_FALSE(s.equals("abcde"));
    EXPECT_FALSE(s.equals(&prefix));
    EXPECT_TRUE(s.startsWith(&prefix));
    EXPECT_TRUE(s.startsWith("abcdef"));
    EXPECT_FALSE(s.startsWith(""));
    EXPECT_FALSE(s.startsWith("abcdefg"));
    EXPECT_TRUE(s.endsWith(&suffix));
    EXPECT_FALSE(s.endsWith(""));
    EXPECT_FALSE(s.endsWith("xabcdef"));
    EXPECT_FALSE(s.endsWith(&prefix));
    EXPECT_EQ(String("a,b,,c").occurence(','), 3);

    // Bytes after an embedded NUL still count.
    String binary("ab");
    binary.append('\0');
    binary.append('c');
    EXPECT_FALSE(binary.equals("ab"));
    EXPECT_TRUE(binary.startsWith("ab"));
    EXPECT_EQ(binary.occurence('\0'), 1);
}

TEST(StringTest, NumberRecognition) {
    for (const char* yes : {"", "-", "+", "123", " -12 ", "+7"})
        EXPECT_TRUE(String(yes).isInteger()) << yes;
    for (const char* no : {"1.0", "4a", "--1", "1-", "1 2", "\t1"})
        EXPECT_FALSE(String(no).isInteger()) << no;
    String trimmed(" -12 ");
    trimmed.isInteger();
    EXPECT_EQ(text(trimmed), "-12");

    for (const char* yes : {"1E-5", ".", "-e5", "e", "1e", "1E-", "-0.5", "12", " .5 "})
        EXPECT_TRUE(String(yes).isDouble()) << yes;
    for (const char* no : {"1e+5", "1e5e", "1x", "1e-5-", "--1"})
        EXPECT_FALSE(String(no).isDouble()) << no;

    testing::internal::CaptureStdout();
    EXPECT_FALSE(String("1.2.3").isDouble());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "too many points\n");
}

TEST(StringTest, NumberConversion) {
    const struct {
        const char* text;
        int         value;
    } integers[] = {{" 42 ", 42},
                    {"-7", -7},
                    {"+7", 7},
                    {"4a", 0},
                    {"", 0},
                    {"-", 0},
                    {"2147483647", INT_MAX},
                    {"-2147483648", INT_MIN},
                    {"2147483648", INT_MIN},
                    {"4294967297", 1}};
    for (const auto& c : integers)
        EXPECT_EQ(String(c.text).intValue(), c.value) << c.text;

    const struct {
        const char* text;
        double      value;
    } doubles[] = {{"2.5e-1", 0.25}, {"-0.5", -0.5},  {"1.5E2", 150.0}, {".5", 0.5},
                   {"12", 12.0},     {"-1e3", -1000}, {"1e", 1.0},      {" 6.5 ", 6.5},
                   {"1.5e-", 1.5},   {"25e-2", 0.25}};
    for (const auto& c : doubles)
        EXPECT_DOUBLE_EQ(String(c.text).doubleValue(), c.value) << c.text;
}
