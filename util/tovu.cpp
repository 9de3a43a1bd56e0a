#include "util/tovu.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tovu {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isSign(char c) {
    return c == '+' || c == '-';
}

bool isExponentMark(char c) {
    return c == 'e' || c == 'E';
}

// Value of a byte read as a digit; bytes that are not digits still count,
// as c - 48, since the conversions do not validate.
int digitValue(char c) {
    return static_cast<unsigned char>(c) - '0';
}

// Writes the decimal text of value into out (no terminator) and returns its
// length. Works on the magnitude as a 64-bit number so INT_MIN needs no care.
int decimalText(int value, char* out) {
    long long magnitude = value;
    int       n         = 0;
    if (magnitude < 0) {
        out[n++]  = '-';
        magnitude = -magnitude;
    }
    char reversed[12];
    int  digits = 0;
    do {
        reversed[digits++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    while (digits > 0)
        out[n++] = reversed[--digits];
    return n;
}

} // namespace

char getPathSeparator() {
    return 47;
}

char getLineSeparator() {
    return 10;
}

int stringLength(const char* s) {
    if (s == nullptr)
        return 0;
    int n = 0;
    while (n < maxScanLength && s[n] != 0)
        n++;
    return n;
}

bool equals(const char* a, const char* b) {
    if (a == nullptr)
        a = "";
    if (b == nullptr)
        b = "";
    for (int i = 0; i < maxScanLength; i++) {
        if (a[i] != b[i])
            return false;
        if (a[i] == 0)
            return true;
    }
    return true;
}

String::String() : capacity(10), buffer(new char[10]) {
    buffer[0] = 0;
}

String::String(int initialCapacity) : capacity(initialCapacity < 0 ? 0 : initialCapacity) {
    // A zero capacity leaves no room for a terminator; the editing operations
    // make that room the first time they need it.
    if (capacity > 0) {
        buffer    = new char[capacity];
        buffer[0] = 0;
    }
}

String::String(const char* s) : capacity(stringLength(s) + 1), length(capacity - 1) {
    buffer = new char[capacity];
    if (length > 0)
        std::memcpy(buffer, s, length);
    buffer[length] = 0;
}

String::String(const String* other) : capacity(other->capacity), length(other->length) {
    if (capacity > 0) {
        buffer = new char[capacity];
        std::memcpy(buffer, other->buffer, length + 1);
    }
}

String::~String() {
    delete[] buffer;
}

void String::increaseSize(int n) {
    if (n <= 0)
        return;
    char* grown = new char[capacity + n];
    if (capacity > 0)
        std::memcpy(grown, buffer, capacity);
    else
        grown[0] = 0;
    delete[] buffer;
    buffer = grown;
    capacity += n;
}

void String::ensureTerminatorRoom() {
    if (capacity < 1)
        increaseSize(1);
}

bool String::ownsBytesAt(const char* p) const {
    if (buffer == nullptr || p == nullptr)
        return false;
    const auto address = reinterpret_cast<std::uintptr_t>(p);
    const auto begin   = reinterpret_cast<std::uintptr_t>(buffer);
    return address >= begin && address < begin + static_cast<std::uintptr_t>(capacity);
}

void String::clear() {
    ensureTerminatorRoom();
    length    = 0;
    buffer[0] = 0;
}

void String::set(const char* s) {
    const int n = stringLength(s);
    // s may lie inside this buffer; then it is shorter than the capacity, no
    // growth happens, and memmove copies it safely.
    if (n >= capacity)
        increaseSize(n + 1 - capacity);
    if (n > 0)
        std::memmove(buffer, s, n);
    length         = n;
    buffer[length] = 0;
}

void String::set(const String* other) {
    if (other == this)
        return;
    const int n = other->length;
    if (n >= capacity)
        increaseSize(n + 1 - capacity);
    if (n > 0)
        std::memcpy(buffer, other->buffer, n);
    length         = n;
    buffer[length] = 0;
}

void String::append(char c) {
    if (length >= capacity - 1)
        increaseSize(10);
    buffer[length++] = c;
    buffer[length]   = 0;
}

void String::append(int value) {
    // The growth step below assumes room for the terminator already exists.
    ensureTerminatorRoom();
    char      text[12];
    const int k = decimalText(value, text);
    if (length + k >= capacity)
        increaseSize(k);
    std::memcpy(buffer + length, text, k);
    length += k;
    buffer[length] = 0;
}

void String::append(const char* s) {
    const int n = stringLength(s);
    // Growing frees the old buffer, so a source inside it is found again by
    // its offset.
    const long long offset = ownsBytesAt(s) ? s - buffer : -1;
    if (length + n >= capacity)
        increaseSize(length + n + 1 - capacity);
    if (offset >= 0)
        s = buffer + offset;
    if (n > 0)
        std::memmove(buffer + length, s, n);
    length += n;
    buffer[length] = 0;
}

void String::append(const String* other) {
    // Read before growing: appending a String to itself doubles the text once.
    const int n = other->length;
    if (length + n >= capacity)
        increaseSize(length + n + 1 - capacity);
    if (n > 0)
        std::memmove(buffer + length, other->buffer, n);
    length += n;
    buffer[length] = 0;
}

void String::insert(int index, char c) {
    if (index < 0 || index > length)
        return;
    if (length >= capacity - 1)
        increaseSize(10);
    std::memmove(buffer + index + 1, buffer + index, length - index + 1);
    buffer[index] = c;
    length++;
}

void String::insert(int index, const char* s) {
    if (index < 0 || index > length)
        return;
    const int n = stringLength(s);
    // Moving the tail would overwrite a source that lies inside this buffer.
    std::unique_ptr<char[]> ownCopy;
    if (ownsBytesAt(s)) {
        ownCopy.reset(new char[n + 1]);
        std::memcpy(ownCopy.get(), s, n);
        s = ownCopy.get();
    }
    if (length + n >= capacity)
        increaseSize(length + n + 1 - capacity);
    std::memmove(buffer + index + n, buffer + index, length - index + 1);
    if (n > 0)
        std::memcpy(buffer + index, s, n);
    length += n;
}

void String::subString(int start) {
    if (start < 0 || start > length)
        return;
    ensureTerminatorRoom();
    std::memmove(buffer, buffer + start, length - start);
    length -= start;
    buffer[length] = 0;
}

void String::subString(int start, int end) {
    if (start < 0 || start > length || end < 0 || start > end)
        return;
    ensureTerminatorRoom();
    end = std::min(end, length);
    std::memmove(buffer, buffer + start, end - start);
    length         = end - start;
    buffer[length] = 0;
}

void String::subString(String* out, int start) const {
    if (start < 0 || start > length)
        return;
    if (out == this) {
        out->subString(start);
        return;
    }
    const int n = length - start;
    out->clear();
    if (n >= out->capacity)
        out->increaseSize(n + 1 - out->capacity);
    if (n > 0)
        std::memcpy(out->buffer, buffer + start, n);
    out->length    = n;
    out->buffer[n] = 0;
}

void String::trim() {
    ensureTerminatorRoom();
    int begin = 0;
    while (begin < length && buffer[begin] == ' ')
        begin++;
    int end = length;
    while (end > begin && buffer[end - 1] == ' ')
        end--;
    std::memmove(buffer, buffer + begin, end - begin);
    length         = end - begin;
    buffer[length] = 0;
}

void String::split(String* out, char separator, int index) const {
    if (out == this) {
        const String text(this);
        text.split(out, separator, index);
        return;
    }
    out->clear();
    if (index < 0 || length == 0)
        return;

    int start = 0;
    for (int passed = 0; passed < index; passed++) {
        const char* next =
            static_cast<const char*>(std::memchr(buffer + start, separator, length - start));
        if (next == nullptr)
            return;
        start = static_cast<int>(next - buffer) + 1;
    }
    if (start == length)
        return;
    const char* next =
        static_cast<const char*>(std::memchr(buffer + start, separator, length - start));
    const int fieldLength = (next == nullptr ? length : static_cast<int>(next - buffer)) - start;

    // The target grows by 10 each time a character would not fit. Taking all
    // those steps at once gives the same capacity without copying the field
    // over and over.
    const long long needed = static_cast<long long>(fieldLength) + 1 - out->capacity;
    if (needed > 0)
        out->increaseSize(static_cast<int>((needed + 9) / 10 * 10));
    std::memcpy(out->buffer, buffer + start, fieldLength);
    out->length              = fieldLength;
    out->buffer[fieldLength] = 0;
}

void String::print(char* destination) const {
    if (buffer == nullptr) {
        destination[0] = 0;
        return;
    }
    std::memcpy(destination, buffer, length + 1);
}

bool String::contains(const char* s) const {
    const int n = stringLength(s);
    if (n == 0)
        return true;
    if (n > length)
        return false;
    return std::search(buffer, buffer + length, s, s + n) != buffer + length;
}

bool String::equals(const char* s) const {
    const int n = stringLength(s);
    return n == length && (n == 0 || std::memcmp(buffer, s, n) == 0);
}

bool String::equals(const String* other) const {
    return other->length == length &&
           (length == 0 || std::memcmp(buffer, other->buffer, length) == 0);
}

bool String::startsWith(const char* s, int n) const {
    return n > 0 && n <= length && std::memcmp(buffer, s, n) == 0;
}

bool String::endsWith(const char* s, int n) const {
    return n > 0 && n <= length && std::memcmp(buffer + length - n, s, n) == 0;
}

bool String::startsWith(const char* s) const {
    return startsWith(s, stringLength(s));
}

bool String::startsWith(const String* other) const {
    return startsWith(other->buffer, other->length);
}

bool String::endsWith(const char* s) const {
    return endsWith(s, stringLength(s));
}

bool String::endsWith(const String* other) const {
    return endsWith(other->buffer, other->length);
}

bool String::isInteger() {
    trim();
    int i = length > 0 && isSign(buffer[0]) ? 1 : 0;
    for (; i < length; i++)
        if (!isDigit(buffer[i]))
            return false;
    return true;
}

bool String::isDouble() {
    if (isInteger())
        return true;
    int i = isSign(buffer[0]) ? 1 : 0;

    bool seenPoint = false;
    for (; i < length && !isExponentMark(buffer[i]); i++) {
        if (isDigit(buffer[i]))
            continue;
        if (buffer[i] != '.')
            return false;
        if (seenPoint) {
            std::fputs("too many points\n", stdout);
            std::fflush(stdout);
            return false;
        }
        seenPoint = true;
    }
    if (i == length)
        return true;

    i++; // the exponent mark
    if (i < length && buffer[i] == '-')
        i++;
    for (; i < length; i++)
        if (!isDigit(buffer[i]))
            return false;
    return true;
}

int String::occurence(char c) const {
    return static_cast<int>(std::count(buffer, buffer + length, c));
}

int String::intValue() {
    // A text without digits (empty, or a sign alone) is an integer to
    // isInteger and has the value 0.
    if (!isInteger())
        return 0;
    int  i        = length > 0 && isSign(buffer[0]) ? 1 : 0;
    bool negative = i == 1 && buffer[0] == '-';
    // Unsigned arithmetic wraps around like the 32-bit sum it stands for,
    // without the undefined behaviour of signed overflow.
    unsigned int value = 0;
    for (; i < length; i++)
        value = value * 10u + static_cast<unsigned int>(buffer[i] - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int>(value);
}

double String::doubleValue() {
    trim();
    if (isInteger())
        return intValue();

    int  i        = isSign(buffer[0]) ? 1 : 0;
    bool negative = buffer[0] == '-';

    int mantissaEnd = i;
    while (mantissaEnd < length && !isExponentMark(buffer[mantissaEnd]))
        mantissaEnd++;

    auto skipped  = [](char c) { return c == '.' || c == '\r' || c == '\n'; };
    int  integral = 0;
    while (i + integral < mantissaEnd && !skipped(buffer[i + integral]))
        integral++;

    long double mantissa = 0;
    long double weight   = std::pow(10.0L, integral - 1);
    for (; i < mantissaEnd; i++) {
        if (skipped(buffer[i]))
            continue;
        mantissa += digitValue(buffer[i]) * weight;
        weight /= 10;
    }
    if (negative)
        mantissa = -mantissa;
    if (mantissaEnd == length)
        return static_cast<double>(mantissa);

    // The exponent is read from the last character back to its sign or mark.
    double exponent = 0;
    double place    = 1;
    int    k        = length - 1;
    for (; k >= 0 && !isSign(buffer[k]) && !isExponentMark(buffer[k]); k--) {
        if (buffer[k] == '\r' || buffer[k] == '\n')
            continue;
        exponent += digitValue(buffer[k]) * place;
        place *= 10;
    }
    if (buffer[k] == '-')
        exponent = -exponent;
    return static_cast<double>(mantissa) * std::pow(10.0, exponent);
}

char* String::toString() const {
    char* copy = new char[length + 1];
    if (length > 0)
        std::memcpy(copy, buffer, length);
    copy[length] = 0;
    return copy;
}

int String::getMemory() const {
    return length + static_cast<int>(sizeof(String));
}

} // namespace tovu
