// Code compiled against the first declaration of displayMessageBox, with `char*` messages,
// links with the errbox object alone and reaches the same output.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Deliberately not errbox.h: the prototypes as they were first declared.
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
