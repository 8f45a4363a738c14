#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/core/Files.h"
#include "tests/support/ScratchDirectory.h"

using namespace zoc::core::files;
namespace fs = std::filesystem;

namespace {

class Files : public testing::Test {
protected:
    static unsigned Mode(const fs::path& path)
    {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0);
        return info.st_mode & 07777;
    }

    zoc::test::ScratchDirectory scratch_;
    const fs::path root_ = scratch_.Path();
};

std::vector<std::uint8_t> Bytes(std::string_view text)
{
    return {text.begin(), text.end()};
}

} // namespace

TEST_F(Files, PrivateDirectoryIsCreatedOrTightened)
{
    const fs::path nested = root_ / "a" / "b";
    EXPECT_EQ(EnsurePrivateDirectory(nested / ""), "");
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_EQ(Mode(nested), 0700u);
    EXPECT_EQ(Mode(root_ / "a"), 0700u);

    ASSERT_EQ(::chmod(nested.c_str(), 0755), 0);
    EXPECT_EQ(EnsurePrivateDirectory(nested), "");
    EXPECT_EQ(Mode(nested), 0700u);
}

TEST_F(Files, PrivateDirectoryRefusesLinksAndFiles)
{
    const fs::path target = root_ / "target";
    fs::create_directory(target);
    ::chmod(target.c_str(), 0755);
    const fs::path link = root_ / "link";
    fs::create_directory_symlink(target, link);
    EXPECT_NE(EnsurePrivateDirectory(link), "");
    EXPECT_NE(EnsurePrivateDirectory(link / ""), "");
    EXPECT_EQ(Mode(target), 0755u); // not touched through the link

    ASSERT_TRUE(WriteFileAtomically(root_ / "file", Bytes("x")));
    EXPECT_NE(EnsurePrivateDirectory(root_ / "file"), "");
    if (::geteuid() != 0) {
        EXPECT_NE(EnsurePrivateDirectory("/"), ""); // owned by root
    }
}

TEST_F(Files, OpenDoesNotFollowLinks)
{
    const fs::path target = root_ / "target";
    ASSERT_TRUE(WriteFileAtomically(target, Bytes("secret")));
    const fs::path link = root_ / "link";
    fs::create_symlink(target, link);
    std::string error;
    EXPECT_FALSE(File::Open(link, File::Mode::Read, &error));
    EXPECT_NE(error, "");
    EXPECT_FALSE(File::Open(link, File::Mode::CreateOrTruncate));
    EXPECT_EQ(ReadWholeFile(target), Bytes("secret"));
    EXPECT_FALSE(ReadWholeFile(link));
    EXPECT_FALSE(File::Open(root_, File::Mode::Read)); // not a regular file
}

TEST_F(Files, CreatedFilesArePrivateAndReadBack)
{
    const fs::path path = root_ / "data";
    auto file = File::Open(path, File::Mode::CreateOrTruncate);
    ASSERT_TRUE(file);
    EXPECT_EQ(Mode(path), 0600u);
    ASSERT_TRUE(file->Write("hello world", 11));
    EXPECT_EQ(file->Size(), 11u);
    ASSERT_TRUE(file->Seek(6));
    char text[8] = {};
    EXPECT_EQ(file->Read(text, sizeof text), 5u);
    EXPECT_STREQ(text, "world");
    EXPECT_EQ(file->Read(text, sizeof text), 0u);
    file.reset();
    EXPECT_FALSE(ReadWholeFile(root_ / "missing"));
    EXPECT_EQ(ReadWholeFile(path), Bytes("hello world"));
}

TEST_F(Files, AtomicWriteReplacesAndLeavesNoTemporaryFile)
{
    const fs::path path = root_ / "settings.bin";
    ASSERT_TRUE(WriteFileAtomically(path, Bytes("first version")));
    ASSERT_TRUE(WriteFileAtomically(path, Bytes("second")));
    EXPECT_EQ(ReadWholeFile(path), Bytes("second"));
    EXPECT_EQ(Mode(path), 0600u);

    // Renaming onto a directory fails; the temporary file must go too.
    fs::create_directory(root_ / "dir");
    EXPECT_FALSE(WriteFileAtomically(root_ / "dir", Bytes("x")));
    EXPECT_FALSE(WriteFileAtomically(root_ / "absent" / "file", Bytes("x")));
    EXPECT_EQ(scratch_.Entries(), (std::vector<std::string>{"dir", "settings.bin"}));
}

TEST(ByteStreams, LittleEndianRoundTripAndReadPastEnd)
{
    ByteWriter writer;
    writer.U32(0x01020304);
    writer.I32(-2);
    writer.U64(0x1122334455667788ull);
    writer.F64(0.1);
    const std::vector<std::uint8_t> bytes = writer.Take();
    ASSERT_EQ(bytes.size(), 4u + 4 + 8 + 8);
    EXPECT_EQ(bytes[0], 0x04); // least significant byte first
    EXPECT_EQ(bytes[8], 0x88);

    ByteReader reader(bytes);
    std::uint8_t u8 = 0;
    std::uint32_t u32 = 0;
    std::int32_t i32 = 0;
    std::uint64_t u64 = 0;
    double f64 = 0;
    EXPECT_TRUE(reader.U32(u32) && reader.I32(i32) && reader.U64(u64) && reader.F64(f64));
    EXPECT_EQ(u32, 0x01020304u);
    EXPECT_EQ(i32, -2);
    EXPECT_EQ(u64, 0x1122334455667788ull);
    EXPECT_EQ(f64, 0.1);
    EXPECT_EQ(reader.Remaining(), 0u);

    ByteReader shortReader(std::span<const std::uint8_t>(bytes).first(3));
    u32 = 7;
    EXPECT_FALSE(shortReader.U32(u32));
    EXPECT_EQ(u32, 7u);
    EXPECT_TRUE(shortReader.Failed());
    EXPECT_FALSE(shortReader.U8(u8)); // stays failed even though a byte is left
    EXPECT_EQ(shortReader.Remaining(), 3u);
}
