// displayMessageBox, command-line build: where each report goes and in what form.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "errbox.h"

namespace {

std::string stream_contents(FILE* f)
{
    std::string out;
    rewind(f);
    int c;
    while ((c = fgetc(f)) != EOF)
        out.push_back(char(c));
    return out;
}

} // namespace

TEST(DisplayMessageBox, NullStreamPrintsMessageAndLineFeedToStandardError)
{
    char message[] = "VidHeader:12 Unable to read from video file \n x.vid \n";
    testing::internal::CaptureStderr();
    displayMessageBox(message, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(message) + "\n");
}

TEST(DisplayMessageBox, OneArgumentFormPrintsToStandardError)
{
    testing::internal::CaptureStderr();
    int printed = displayMessageBox("abc");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "abc\n");
    EXPECT_EQ(printed, 4);
}

TEST(DisplayMessageBox, GivenStreamGetsTitledMessageAndStandardErrorNothing)
{
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    testing::internal::CaptureStderr();
    int printed = displayMessageBox("VidHeader:7 text", f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const std::string expected = "\n\n Framewise error\nVidHeader:7 text\n";
    EXPECT_EQ(stream_contents(f), expected);
    EXPECT_EQ(printed, int(expected.size()));
    fclose(f);
}

TEST(DisplayMessageBox, MessageIsPrintedVerbatimNotAsFormat)
{
    FILE* f = tmpfile();
    ASSERT_NE(f, nullptr);
    displayMessageBox("100% %s %n done", f);
    EXPECT_EQ(stream_contents(f), "\n\n Framewise error\n100% %s %n done\n");
    fclose(f);
}

// Code compiled against the first declaration of displayMessageBox, with `char*` messages,
// links with the errbox object alone and reaches the same output: the prototypes as they were
// first declared (beside errbox.h's, a char array takes them).
int displayMessageBox(char* message, FILE* stream);
int displayMessageBox(char* message);

TEST(DisplayMessageBox, CharPointerFormsLinkAndForward)
{
    char message[] = "VidHeader:7 text";
    testing::internal::CaptureStderr();
    EXPECT_EQ(displayMessageBox(message), 17);
    displayMessageBox(message, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "VidHeader:7 text\nVidHeader:7 text\n");
}
