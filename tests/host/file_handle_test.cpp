#include <gtest/gtest.h>

#include "payload/file_handle.h"

TEST(FileHandle, MissingFileStaysClosed)
{
    FileHandle f;
    EXPECT_EQ(0, f.openRead("/nonexistent/file"));
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(0xFFFFFFFFu, f.size());
    f.close();
}
