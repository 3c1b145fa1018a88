#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "talcore/filesupport/ByteStream.h"
#include "talcore/filesupport/File.h"
#include "talcore/string/Unicode.h"
#include "talcore/utility/Guid.h"

namespace {

namespace fs = std::filesystem;
using talcore::filesupport::File;
using talcore::filesupport::IPlatformByteStream;

File At(const fs::path& path) { return File(talcore::string::UTF8to16(path.string())); }

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_ / "full"), std::ofstream(dir_ / "full" / "x") << "x"; }
    void TearDown() override { fs::remove_all(dir_); }
    // Named as the host names files: a full UTF-16 path, here with characters beyond ASCII.
    File Make(const std::string& content) {
        std::ofstream(dir_ / "vid\xC3\xA9o \xF0\x9F\x8E\xAC.mp4", std::ios::binary) << content;
        return At(dir_ / "vid\xC3\xA9o \xF0\x9F\x8E\xAC.mp4");
    }
    const fs::path dir_ =
        fs::temp_directory_path() / ("files-" + talcore::utility::Guid::CreateUnique().AsUTF8String());
};

TEST_F(FilesTest, ExistsSizeAndDelete) {
    const File file = Make("0123456789");
    EXPECT_TRUE(file.Exists());
    EXPECT_EQ(file.Size(), 10u);
    file.Delete();
    EXPECT_FALSE(file.Exists());
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_FALSE(At(dir_).Exists()) << "a directory is not a file";

    // Failures that hold for root too: a missing file, a non-empty directory.
    EXPECT_THROW(At(dir_ / "missing").Delete(), std::runtime_error);
    EXPECT_THROW(At(dir_ / "full").Delete(), std::runtime_error);
    EXPECT_TRUE(fs::exists(dir_ / "full" / "x"));
}

TEST_F(FilesTest, ByteStreamReadsShortAtTheEndSeeksAndReportsFailures) {
    auto stream = IPlatformByteStream::Create(Make("0123456789"), IPlatformByteStream::kRead);
    char buffer[4];
    std::string got;
    for (const std::size_t expected : {4u, 4u, 2u, 0u}) {
        ASSERT_EQ(stream->Read(buffer, sizeof buffer), expected);
        got.append(buffer, expected);
    }
    EXPECT_EQ(got, "0123456789");
    stream->Seek(7);
    EXPECT_EQ(stream->Read(buffer, sizeof buffer), 3u);
    EXPECT_EQ(std::string(buffer, 3), "789");
    EXPECT_EQ(stream->Position(), 10u);

    EXPECT_THROW(IPlatformByteStream::Create(At(dir_ / "missing"), IPlatformByteStream::kRead), std::runtime_error);
    EXPECT_THROW(IPlatformByteStream::Create(At(dir_), IPlatformByteStream::kRead), std::runtime_error);
    EXPECT_THROW(IPlatformByteStream::Create(Make("x"), 0), std::invalid_argument);
    // Reading this process's memory at address 0 fails with an I/O error, for root too.
    EXPECT_THROW(IPlatformByteStream::Create(File(u"/proc/self/mem"), IPlatformByteStream::kRead)->Read(buffer, 4),
                 std::runtime_error);
}

// Names built as UTF-16 from start to end (the path type converts them for the system), so a
// conversion through a narrow code page anywhere in the platform shows as a missing file.
TEST_F(FilesTest, NamesBeyondASCIIWorkFromEndToEnd) {
    for (const std::u16string name :
         {u"Caf\u00E9 \u2013 \u00E9t\u00E9 \U0001F3AC.mp4", u"\u65E5\u672C\u8A9E.mov", u"plain.mp4"}) {
        const fs::path onDisk = dir_ / fs::path(name);
        std::ofstream(onDisk, std::ios::binary) << "abcdef";
        const File file(onDisk.u16string());
        SCOPED_TRACE(talcore::string::UTF16to8(name));
        EXPECT_TRUE(file.Exists());
        EXPECT_EQ(file.Size(), 6u);
        char buffer[8];
        EXPECT_EQ(IPlatformByteStream::Create(file, IPlatformByteStream::kRead)->Read(buffer, sizeof buffer), 6u);
        file.Delete();
        EXPECT_FALSE(fs::exists(onDisk));
    }
}

// An export opened for upload stays the file that was opened: its size is that file's (a cut in
// place shows), and its identity tells it from whatever the path names later.
TEST_F(FilesTest, AnOpenStreamKeepsItsFileWhateverThePathNamesLater) {
    const File file = Make("0123456789");
    auto stream = IPlatformByteStream::Create(file, IPlatformByteStream::kRead);
    ASSERT_TRUE(file.Identity().has_value());
    EXPECT_EQ(*file.Identity(), stream->Identity());
    EXPECT_EQ(stream->Size(), 10u);
    fs::resize_file(dir_ / "vid\xC3\xA9o \xF0\x9F\x8E\xAC.mp4", 4);
    EXPECT_EQ(stream->Size(), 4u);

    std::ofstream(dir_ / "replacement", std::ios::binary) << "replacement";
    std::error_code refused;
    fs::rename(dir_ / "replacement", dir_ / "vid\xC3\xA9o \xF0\x9F\x8E\xAC.mp4", refused);
    // Windows refuses to replace a file that is open; elsewhere the path now names another file.
    ASSERT_TRUE(file.Identity().has_value());
    EXPECT_EQ(*file.Identity() == stream->Identity(), static_cast<bool>(refused)) << refused.message();
    EXPECT_EQ(stream->Size(), 4u);
    file.Delete();
    char buffer[8];
    ASSERT_EQ(stream->Read(buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    // On Windows a deleted file that is still open goes only with its last handle.
    stream.reset();
    EXPECT_FALSE(file.Identity().has_value());
    EXPECT_FALSE(File(u"").Identity().has_value());
}

}  // namespace
