#pragma once

// tovu::String, the engine's own growable byte string. Every protocol line is
// read into one, cut into fields, converted, and rewritten in place into the
// answer. Characters are plain bytes: no encoding, no case folding.
//
// Memory: `buffer` holds `capacity` bytes; the text is the first `length` of
// them and buffer[length] is always 0, so `buffer` is a valid C string. The
// capacity never shrinks and grows only through increaseSize, by the fixed
// amounts each operation asks for (there is no doubling; a caller that appends
// a lot, such as the line reader, grows the string ahead itself).

namespace tovu {

// Longest C string any scan looks at; a longer one counts as this long.
constexpr int maxScanLength = 1000000000;

char getPathSeparator();
char getLineSeparator();

// Bytes before the first 0 byte, at most maxScanLength. A null pointer counts
// as the empty text.
int stringLength(const char* s);

// Same bytes up to and including the terminators (or over the first
// maxScanLength bytes).
bool equals(const char* a, const char* b);

class String {
  public:
    int   capacity = 0;
    int   length   = 0;
    char* buffer   = nullptr; // owned; capacity bytes, null while capacity is 0

    String();
    explicit String(int initialCapacity);
    explicit String(const char* s);
    explicit String(const String* other);
    ~String();

    String(const String&)            = delete;
    String& operator=(const String&) = delete;

    // Editing, in place. Insert does nothing unless 0 <= index <= length.
    void clear();
    void set(const char* s);
    void set(const String* other);
    void append(char c);
    void append(int value);
    void append(const char* s);
    void append(const String* other);
    void insert(int index, char c);
    void insert(int index, const char* s);
    // Out-of-range arguments leave the text (or out) unchanged; an end past
    // the text is taken as its end.
    void subString(int start);
    void subString(int start, int end);
    void subString(String* out, int start) const;
    // Removes leading and trailing spaces (code 32 only).
    void trim();
    // Field `index` (from 0) of the text cut at every separator; an empty or
    // missing field leaves out empty. This String is unchanged.
    void split(String* out, char separator, int index) const;
    // Adds n bytes to the capacity, keeping all old bytes; nothing if n <= 0.
    void increaseSize(int n);

    // Queries. The number tests and conversions trim the text first.
    void   print(char* destination) const;
    bool   contains(const char* s) const;
    bool   equals(const char* s) const;
    bool   equals(const String* other) const;
    bool   startsWith(const char* s) const;
    bool   startsWith(const String* other) const;
    bool   endsWith(const char* s) const;
    bool   endsWith(const String* other) const;
    bool   isInteger();
    bool   isDouble();
    int    occurence(char c) const;
    int    intValue();
    double doubleValue();
    char*  toString() const; // new[]-allocated copy; the caller delete[]s it
    int    getMemory() const;

  private:
    void ensureTerminatorRoom();
    bool startsWith(const char* s, int n) const;
    bool endsWith(const char* s, int n) const;
    bool ownsBytesAt(const char* p) const;
};

} // namespace tovu
