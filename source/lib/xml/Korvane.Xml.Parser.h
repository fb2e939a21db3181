#pragma once
// The character reader of the XML parser.
//
// The reader decodes its whole input once, on the first read, into UTF-8 text
// that it keeps (invalid sequences become U+FFFD, UTF-16 input is converted),
// so the parser moves over bytes and slices values straight out of the text.
// Its movements (Read, revert, forward) step over bytes of that text;
// position() counts UTF-16 characters from the start of the text, the
// byte-order mark not included, which is what error messages report.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Platform.Classes.h"
#include "Platform.SysUtils.h"

namespace korvane {

class TStream;

enum TMz_TextEncoding : uint8_t { meUTF8, meUTF16LE, meUTF16BE };

class TMz_StreamReader : public TObject {
public:
    static constexpr int DefaultBufferSize = 4096;
    static constexpr int MinBufferSize = 128;
    // The most bytes a reader takes from its input: larger input is refused
    // with EReadError rather than exhausting memory.
    static constexpr int64_t MaxInputSize = int64_t(1) << 30;
    // What Read and Current answer at the end of the text (#$FFFF).
    static constexpr int EndOfData = -1;

    // UTF-8 with byte-order-mark detection. A mark found selects UTF-8,
    // UTF-16 LE or UTF-16 BE and is skipped; without detection the chosen
    // encoding's own mark is skipped. A nil stream raises EArgumentException "Stream".
    explicit TMz_StreamReader(TStream* Stream, bool DetectBOM = true);
    TMz_StreamReader(TStream* Stream, TMz_TextEncoding Encoding, bool DetectBOM, int BufferSize);
    // The same on the named file, opened for reading; the reader owns that stream.
    explicit TMz_StreamReader(const std::string& Filename, bool DetectBOM = true);
    TMz_StreamReader(const std::string& Filename, TMz_TextEncoding Encoding, bool DetectBOM, int BufferSize);
    // Over bytes in memory that outlive the reader (not copied when they are
    // valid UTF-8 that needs no conversion); SkipPreamble applies without detection.
    TMz_StreamReader(std::string_view Bytes, TMz_TextEncoding Encoding, bool DetectBOM, bool SkipPreamble);
    ~TMz_StreamReader() override;
    std::string ClassName() const override { return "TMz_StreamReader"; }

    // Frees the stream when owned and drops the text.
    void Close();
    void OwnStream() { FOwnsStream = true; }
    TStream* BaseStream() const { return FStream; }
    TMz_TextEncoding CurrentEncoding();
    // True when the input holds no data at all.
    bool EndOfStream();

    // The position in UTF-16 characters of the decoded text.
    int64_t position();
    void setPosition(int64_t AValue);
    // The position as a byte index into text().
    int64_t index() const { return FInternalIndex; }
    void setIndex(int64_t AValue) { FInternalIndex = AValue < 0 ? 0 : AValue; }

    // True at or past the end of the text.
    bool eod();
    // The byte at the position, or EndOfData; the position advances in both
    // cases, except that a reader without any data does not move.
    int Read();
    int Current();
    // The byte after the position, EndOfData without any data; raises
    // ERangeError past the end.
    int Peek();
    // The text from the position up to the next line break (LF, CR or CR LF),
    // the position moving past the break.
    std::string ReadLine();
    std::string ReadToEnd();
    // Moves back; a position below 0 raises Exception "invalid internal index revert".
    void revert(int64_t pCount);
    void forward(int64_t pCount) { FInternalIndex += pCount; }

    // The whole decoded text.
    std::string_view text();
    // Hands the memory of the decoded text over to the caller, who keeps it
    // alive while views into it are used (nil when there is no text). The
    // reader goes on reading the same text, at the same place in memory.
    std::shared_ptr<const void> TakeText();

private:
    void Init(TStream* Stream, TMz_TextEncoding Encoding, bool DetectBOM, int BufferSize);
    void Decode();
    void DecodeBytes(std::string_view Bytes);
    // Detects or skips the byte-order mark as set up; the bytes after it.
    std::string_view SkipMark(std::string_view Bytes);
    void DecodeText(std::string_view Bytes);
    // UTF-16 characters in the first ABytes bytes of the text.
    int64_t Utf16Units(int64_t ABytes);

    int64_t FInternalIndex = 0;
    std::string FBufferedData;   // the decoded text when it had to be converted
    std::string FRawInput;       // the bytes read from a stream
    std::string_view FText;      // the text in use (into FBufferedData or the caller's bytes)
    std::string_view FInput;     // bytes given in memory
    int FBufferSize = DefaultBufferSize;
    bool FDetectBOM = true;
    bool FSkipPreamble = false;
    bool FDecoded = false;
    bool FOwnsStream = false;
    TMz_TextEncoding FEncoding = meUTF8;
    TStream* FStream = nullptr;
    int64_t FCountedBytes = 0;
    int64_t FCountedUnits = 0;
};

} // namespace korvane
