// Fuzz target: the String parsers the protocol reads every line with. The
// first two bytes choose a separator and an index, the rest is the text.
// Field splitting is compared with a plain model, and every result must
// keep the String's terminator.

#include "util/tovu.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkTerminated(const tovu::String& s) {
    check(s.capacity >= s.length + 1 && s.length >= 0 && s.buffer[s.length] == 0);
}

// A String holding exactly these bytes, NUL bytes included.
void fill(tovu::String* s, const std::string& text) {
    s->clear();
    s->increaseSize(static_cast<int>(text.size()));
    for (char c : text)
        s->append(c);
}

// Field `index` of text cut at every separator; empty when missing.
std::string modelField(const std::string& text, char separator, int index) {
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = text.find(separator, start);
        if (start == std::string::npos)
            return "";
        ++start;
    }
    const size_t end = text.find(separator, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string textOf(const tovu::String& s) {
    return std::string(s.buffer, static_cast<size_t>(s.length));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const char        separator = static_cast<char>(data[0]);
    const int         index     = static_cast<int8_t>(data[1]);
    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

    tovu::String line(0);
    fill(&line, text);
    checkTerminated(line);

    tovu::String field(0);
    line.split(&field, separator, index);
    checkTerminated(field);
    check(textOf(field) == (index < 0 ? "" : modelField(text, separator, index)));

    // The number tests and conversions trim in place: each gets its copy.
    tovu::String number(&field);
    const bool   integer = number.isInteger();
    checkTerminated(number);
    const int value = number.intValue();
    if (integer && number.length > 0 && number.length <= 9)
        check(value == std::atoi(number.buffer));
    tovu::String decimal(&line);
    if (decimal.isDouble())
        (void)decimal.doubleValue();
    tovu::String raw(&line);
    (void)raw.doubleValue(); // callers should test first; it must not fail all the same
    checkTerminated(raw);

    // Cuts at positions taken from the separator and index bytes.
    const int    from = index;
    const int    to   = static_cast<int8_t>(separator);
    tovu::String cut(&line);
    cut.subString(from, to);
    checkTerminated(cut);
    tovu::String tail(&line);
    tail.subString(from);
    checkTerminated(tail);
    tovu::String copy;
    line.subString(&copy, from);
    checkTerminated(copy);
    if (from >= 0 && from <= line.length)
        check(textOf(copy) == text.substr(static_cast<size_t>(from)));
    return 0;
}
