// Strings, errors and number formatting shared by every layer.
#pragma once

#include <QString>
#include <exception>
#include <string>

// Counted, reference-managed text.
using AnsiString = QString;

// Every error the platform raises: a message that names what failed and why.
class Exception : public std::exception {
public:
    explicit Exception(const AnsiString &message);
    const AnsiString &Message() const { return message_; }
    const char *what() const noexcept override { return utf8_.c_str(); }

private:
    AnsiString message_;
    std::string utf8_;
};

// What the program ran out of memory for, as its messages name it.
enum class TMemoryUse { ReadingTheFile, ReadingThePicture, EncodingThePicture, ConvertingThePicture };
// The reason given for a lack of memory: "there is not enough memory to
// read the picture".
AnsiString NotEnoughMemoryTo(TMemoryUse use);

// Signed decimal text of value.
AnsiString IntToStr(int value);

// Formats one int with a printf-style format such as "%i".
AnsiString Format(const char *format, int value);

// The form a file path takes in messages: native separators, quoted.
AnsiString QuotedPath(const AnsiString &path);

// A reason worded by the system or Qt ("No space left on device") as the
// end of this program's sentences ("no space left on device").
AnsiString SystemWording(const AnsiString &text);
