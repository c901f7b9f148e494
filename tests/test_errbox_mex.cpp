// displayMessageBox, MATLAB build, linked against a stand-in for the host's mexErrMsgTxt.
// The stand-in records the text and unwinds like Octave's does (a C++ exception), so the
// test can check that the report is raised verbatim and that nothing runs after it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "errbox.h"

namespace {
std::string raised_text;
int raised_count = 0;
struct HostError {};
} // namespace

extern "C" void mexErrMsgTxt(const char* text)
{
    raised_text = text;
    raised_count++;
    throw HostError();
}

TEST(DisplayMessageBoxMatlab, RaisesTheMessageExactlyAndDoesNotReturn)
{
    raised_count = 0;
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    const char message[] = "VidHeader:99 Unable to open following video file in  'rb' mode \r\n"
                           " a.vid \r\n";
    bool returned = false;
    testing::internal::CaptureStderr();
    try {
        displayMessageBox(message, f);
        returned = true;
    } catch (const HostError&) {
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(returned);
    EXPECT_EQ(raised_count, 1);
    EXPECT_EQ(raised_text, message);
    // The stream is ignored: nothing was printed to it.
    EXPECT_EQ(ftell(f), 0);
    fclose(f);
}

TEST(DisplayMessageBoxMatlab, NullStreamAlsoRaises)
{
    raised_count = 0;
    EXPECT_THROW(displayMessageBox("m", nullptr), HostError);
    EXPECT_EQ(raised_text, "m");
    EXPECT_EQ(raised_count, 1);
}

TEST(DisplayMessageBoxMatlab, OneArgumentFormPrintsAndReturns)
{
    raised_count = 0;
    testing::internal::CaptureStderr();
    displayMessageBox("plain");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "plain\n");
    EXPECT_EQ(raised_count, 0);
}
