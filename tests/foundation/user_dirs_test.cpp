// The user-dirs.dirs reader: quoted and bare values, $HOME and absolute paths, escapes, comments and
// other keys, the last entry winning, and the entries that are no valid folder.
#include "foundation/user_dirs.h"

#include <gtest/gtest.h>

using foundation::userDirFromConfig;

TEST(UserDirs, TheDocumentsLineOfUserDirsNamesTheFolder)
{
    const std::filesystem::path home = "/home/ann";
    const char* key = "XDG_DOCUMENTS_DIR";
    EXPECT_EQ(userDirFromConfig("XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", key, home), home / "Dokumente");
    EXPECT_EQ(userDirFromConfig("XDG_DOCUMENTS_DIR=\"/srv/papers\"", key, home), std::filesystem::path("/srv/papers"));
    EXPECT_EQ(userDirFromConfig("  XDG_DOCUMENTS_DIR = \"$HOME/My \\\"Files\\\"\" \n", key, home),
              home / "My \"Files\"");
    EXPECT_EQ(userDirFromConfig("XDG_DOCUMENTS_DIR=$HOME/Bare\n", key, home), home / "Bare");
    EXPECT_EQ(userDirFromConfig("XDG_DOCUMENTS_DIR=\"$HOME\"\n", key, home), home);
    // Comments, other keys and a key that only starts the same are no entries; the last entry wins.
    EXPECT_EQ(userDirFromConfig("# XDG_DOCUMENTS_DIR=\"$HOME/Commented\"\n"
                                "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                "XDG_DOCUMENTS_DIRS=\"$HOME/Other\"\n"
                                "XDG_DOCUMENTS_DIR=\"$HOME/First\"\n"
                                "XDG_DOCUMENTS_DIR=\"$HOME/Second\"\n",
                                key, home),
              home / "Second");
    EXPECT_EQ(userDirFromConfig("# XDG_DOCUMENTS_DIR=\"$HOME/Commented\"\nXDG_MUSIC_DIR=\"$HOME/Music\"\n", key, home),
              std::nullopt);
    EXPECT_EQ(userDirFromConfig("", key, home), std::nullopt);
    // Relative paths, other variables and an unclosed quote are not valid entries.
    EXPECT_EQ(userDirFromConfig("XDG_DOCUMENTS_DIR=\"Documents\"\nXDG_DOCUMENTS_DIR=\"$XDG/x\"\n"
                                "XDG_DOCUMENTS_DIR=\"$HOME/open",
                                key, home),
              std::nullopt);
}
