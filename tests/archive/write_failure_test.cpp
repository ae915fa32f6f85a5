// A write that fails midway (here: the file-size limit of the process) must not leave a target
// that looks complete, in either reader.
#include <signal.h>
#include <sys/resource.h>

#include "archive/archive_library.h"
#include "archive/seven_zip_interfaces.h"
#include "archive/zip_archive.h"
#include "archive_fixture.h"

namespace archive_test {
namespace {

constexpr rlim_t kLimit = 64 * 1024;

// Files cannot grow past kLimit while it lives; writes beyond fail (EFBIG) instead of raising
// SIGXFSZ.
class FileSizeLimit {
public:
    FileSizeLimit() {
        previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = kLimit;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        ::signal(SIGXFSZ, previousHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit previous_{};
    sighandler_t previousHandler_ = SIG_DFL;
    bool ok_ = false;
};

class WriteFailureTest : public ArchiveTest {
protected:
    void SetUp() override {
        ArchiveTest::SetUp();
        std::string big;
        for (unsigned i = 0; i < 4 * kLimit; ++i) big += static_cast<char>('a' + (i * 31u) % 26);
        WriteRawZip(Work(L"big.zip"), {{"small.txt", "fits"}, {"big.bin", big}, {"after.txt", "later"}});
    }
};

TEST_F(WriteFailureTest, ExtractZipRemovesTheFileItCouldNotFinish) {
    int result;
    {
        FileSizeLimit limit;
        ASSERT_TRUE(limit.ok());
        result = archive::ExtractZip(Work(L"big.zip"), Work(L"out"));
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(LogHas(L"unzReadCurrentFile: C:\\work\\out\\big.bin, ret: ")) << LogText();
    EXPECT_TRUE(LogHas(L", WriteFile: 0"));
    EXPECT_EQ(ReadFile(Work(L"out\\small.txt")), "fits");
    EXPECT_FALSE(Exists(Work(L"out\\big.bin")));
    EXPECT_FALSE(Exists(Work(L"out\\after.txt")));
}

TEST_F(WriteFailureTest, TheArchiveLibraryRunFailsAndRemovesTheFile) {
    archive::SetArchiveLibraryPath(L"/usr/lib/p7zip/7z.so");
    std::vector<std::wstring> top;
    int result;
    {
        FileSizeLimit limit;
        ASSERT_TRUE(limit.ok());
        result = archive::ExtractWithArchiveLibrary(Work(L"big.zip"), Work(L"out"), top, false);
    }
    EXPECT_NE(result, 0);
    EXPECT_TRUE(LogHas(L"7zip Extract Error, ret:")) << LogText();
    EXPECT_EQ(ReadFile(Work(L"out\\small.txt")), "fits");
    EXPECT_FALSE(Exists(Work(L"out\\big.bin")));
}

}  // namespace
}  // namespace archive_test
