#include <gtest/gtest.h>

#include "TestHelpers.h"
#include <unistd.h>

#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "Platform.Streams.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

void ExpectReadError(TStream& s, int64_t count)
{
    std::vector<uint8_t> buf(size_t(std::max<int64_t>(count, 1)));
    EXPECT_EQ(test::MessageOf<EReadError>([&] { s.ReadBuffer(buf.data(), count); }), "Stream read error")
        << "reading " << count << " bytes";
}

class TempDir : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return FFolder.Path(name); }
    korvane::test::TempFolder FFolder;
};

} // namespace

TEST(TMemoryStream, ReadingPastTheEndRaises)
{
    TMemoryStream s;
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    s.WriteBuffer(data, 5);
    s.SetPosition(3);
    ExpectReadError(s, 3); // two bytes are left
    ExpectReadError(s, -1);

    s.SetPosition(3);
    uint8_t out[8] = {};
    EXPECT_EQ(s.Read(out, 8), 2); // Read moves what there is
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[1], 5);
    EXPECT_EQ(s.Read(out, 8), 0);
    s.SetPosition(100); // beyond the end is a position, not data
    EXPECT_EQ(s.Remaining(), 0);
    ExpectReadError(s, 1);
    EXPECT_NO_THROW(s.ReadBuffer(out, 0));
}

TEST(TMemoryStream, WritingAndSizing)
{
    TMemoryStream s;
    s.SetPosition(4);
    const uint8_t b = 9;
    s.WriteBuffer(&b, 1); // the gap is zero-filled
    ASSERT_EQ(s.Size(), 5);
    EXPECT_EQ(std::vector<uint8_t>(s.Memory(), s.Memory() + 5), (std::vector<uint8_t>{0, 0, 0, 0, 9}));
    EXPECT_EQ(s.Position(), 5);

    EXPECT_EQ(s.Seek(-2, soEnd), 3);
    EXPECT_EQ(s.Seek(1, soCurrent), 4);
    EXPECT_THROW(s.Seek(-1, soBeginning), EStreamError);
    EXPECT_THROW(s.Seek(-6, soEnd), EStreamError);
    EXPECT_THROW(s.Seek(INT64_MAX, soCurrent), EStreamError);
    EXPECT_EQ(s.Position(), 4); // a refused seek leaves the position

    s.SetSize(2); // shrinking pulls the position back
    EXPECT_EQ(s.Position(), 2);
    EXPECT_THROW(s.SetSize(-1), EStreamError);
    EXPECT_EQ(test::MessageOf<EStreamError>([&] { s.SetSize(TMemoryStream::MaxSize + 1); }),
              "Out of memory while expanding memory stream");
    EXPECT_EQ(s.Size(), 2);
    s.SetPosition(INT64_MAX - 1);
    EXPECT_THROW(s.WriteBuffer(&b, 4), EWriteError);
    s.Clear();
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Position(), 0);
}

TEST(TMemoryStream, CopyFrom)
{
    std::vector<uint8_t> bytes(200000);
    std::iota(bytes.begin(), bytes.end(), uint8_t(0));
    TBytesStream source(bytes);
    source.SetPosition(500);

    TMemoryStream all;
    EXPECT_EQ(all.CopyFrom(&source, 0), 200000); // 0: everything, from the start
    EXPECT_EQ(std::vector<uint8_t>(all.Memory(), all.Memory() + all.Size()), bytes);

    source.SetPosition(10);
    TBytesStream part;
    EXPECT_EQ(part.CopyFrom(&source, 100000), 100000);
    EXPECT_EQ(part.Bytes().front(), 10);
    EXPECT_EQ(part.Size(), 100000);
    EXPECT_EQ(source.Position(), 100010);

    source.SetPosition(199990);
    TMemoryStream shortCopy;
    EXPECT_THROW(shortCopy.CopyFrom(&source, 11), EReadError);
    EXPECT_THROW(shortCopy.CopyFrom(&source, -1), EArgumentException);
}

TEST(TMemoryStream, StringAndBytesStreams)
{
    TStringStream s("héllo");
    EXPECT_EQ(s.Size(), 6);
    EXPECT_EQ(s.ReadString(3), "h\xC3\xA9");
    EXPECT_EQ(s.ReadString(100), "llo");
    s.WriteString(" world");
    EXPECT_EQ(s.DataString(), "héllo world");
    EXPECT_EQ(s.Bytes().size(), 12u);
}

TEST_F(TempDir, FilesRoundTrip)
{
    TStringStream text("line one\nline two\n");
    text.SaveToFile(Path("a.txt"));
    TMemoryStream loaded;
    loaded.LoadFromFile(Path("a.txt"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(loaded.Memory()), size_t(loaded.Size())), text.DataString());

    {
        TFileStream f(Path("a.txt"), fmOpenReadWrite);
        EXPECT_EQ(f.Size(), 18);
        f.Seek(5, soBeginning);
        f.WriteBuffer("ONE", 3);
        f.SetSize(8);
        EXPECT_EQ(f.Position(), 8);
    }
    {
        TFileStream f(Path("a.txt"), fmOpenRead | fmShareDenyWrite);
        std::string s(8, '\0');
        f.ReadBuffer(s.data(), 8);
        EXPECT_EQ(s, "line ONE");
        ExpectReadError(f, 1);
        EXPECT_THROW(f.WriteBuffer("x", 1), EWriteError); // opened for reading only
    }
    {
        TFileStream f(Path("a.txt"), fmCreate); // empties the file
        EXPECT_EQ(f.Size(), 0);
    }
    EXPECT_EQ(fs::file_size(Path("a.txt")), 0u);
}

TEST_F(TempDir, FileErrors)
{
    EXPECT_EQ(test::MessageOf<EFOpenError>([&] { TFileStream f(Path("missing.bin"), fmOpenRead); }),
              "Cannot open file \"" + Path("missing.bin") + "\". No such file or directory");
    // A folder opens on this system but is no file.
    EXPECT_THROW(TFileStream(FFolder.Folder().string(), fmOpenRead), EFOpenError);
    TMemoryStream m;
    EXPECT_THROW(m.LoadFromFile(FFolder.Folder().string()), EFOpenError);
    try {
        TFileStream f(Path("no/such/folder.bin"), fmCreate);
        ADD_FAILURE();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file \"", 0), 0u);
    }
}
