#include "util/PathUtils.h"

#include "util/SameOrigin.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

class PathUtilsTest : public ::testing::Test {
protected:
    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    void makeFile(const QString& relative) const
    {
        QFile f(path(relative));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QTemporaryDir m_dir;
};

TEST_F(PathUtilsTest, DirExistsIgnoresOneTrailingSeparator)
{
    EXPECT_TRUE(DirExists(m_dir.path()));
    EXPECT_TRUE(DirExists(m_dir.path() + u'/'));
}

TEST_F(PathUtilsTest, DirExistsIsFalseForFilesMissingPathsAndEmpty)
{
    makeFile(u"plain"_s);
    EXPECT_FALSE(DirExists(path(u"plain"_s)));
    EXPECT_FALSE(DirExists(path(u"missing"_s)));
    EXPECT_FALSE(DirExists(QString()));
}

TEST(DirExists, RootDirectoryIsADirectory)
{
    EXPECT_TRUE(DirExists(u"/"_s));
    EXPECT_FALSE(CreateDir(u"/"_s));
}

TEST_F(PathUtilsTest, CreateDirMakesEveryMissingLevel)
{
    for (const QString& suffix : { QString(), u"/"_s }) {
        const QString target = path(u"A"_s + QString::number(suffix.size()) + u"/B/C"_s) + suffix;
        EXPECT_FALSE(CreateDir(target)) << target.toStdString();
        EXPECT_TRUE(QFileInfo(target).isDir());
    }
}

TEST_F(PathUtilsTest, CreateDirOnExistingDirectoryChangesNothing)
{
    makeFile(u"keep.txt"_s);
    EXPECT_FALSE(CreateDir(m_dir.path()));
    EXPECT_TRUE(QFile::exists(path(u"keep.txt"_s)));
}

TEST_F(PathUtilsTest, CreateDirFailsWhenALevelIsAFile)
{
    makeFile(u"blocker"_s);
    EXPECT_TRUE(CreateDir(path(u"blocker/sub"_s)));
    EXPECT_TRUE(CreateDir(path(u"blocker"_s)));
    EXPECT_TRUE(QFileInfo(path(u"blocker"_s)).isFile());
}

TEST(GetFileNameFromURL, LastSegment)
{
    EXPECT_EQ(GetFileNameFromURL(u"/picture/12/abc.jpg"_s), u"abc.jpg"_s);
    EXPECT_EQ(GetFileNameFromURL(u"abc.jpg"_s), u"abc.jpg"_s);
    EXPECT_EQ(GetFileNameFromURL(u"/catalog/"_s), QString());
    EXPECT_EQ(GetFileNameFromURL(u"a\\b"_s), u"a\\b"_s);
    EXPECT_EQ(GetFileNameFromURL(u"/p/x.png?size=2#top"_s), u"x.png?size=2#top"_s);
}

// The name a picture is saved under, and whether it may be used.
struct PictureNameCase {
    QString url;
    QString name;
    bool safe;
};

TEST(PictureFileName, DropsQueryAndFragmentOnly)
{
    const QList<PictureNameCase> cases {
        { u"http://p.example/picture/12/a.png"_s, u"a.png"_s, true },
        { u"http://p.example/picture/12/a.png?v=2"_s, u"a.png"_s, true },
        { u"http://p.example/picture/12/a.png#x"_s, u"a.png"_s, true },
        { u"http://p.example/picture/12/a.png?x=1/2"_s, u"a.png"_s, true },
        { u"http://p.example/picture/12/a.png#x?y=1/2"_s, u"a.png"_s, true },
        { u"http://p.example/picture/12/a.png?v=2#x"_s, u"a.png"_s, true },
        { u"http://p.example/picture/12/a.png?"_s, u"a.png"_s, true },
        { u"http://p.example/picture/12/a%3Fv=2.png"_s, u"a%3Fv=2.png"_s, true },
        { u"http://p.example/picture/12/?v=2"_s, QString(), false },
        { u"http://p.example/picture/12/..?v=2"_s, u".."_s, false },
        { u"http://p.example/picture/12/a:b.png?v=2"_s, u"a:b.png"_s, false },
    };
    for (const PictureNameCase& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        EXPECT_EQ(PictureFileName(c.url), c.name);
        EXPECT_EQ(IsSafeFileName(PictureFileName(c.url)), c.safe);
    }
}

TEST(IsSafeFileName, RejectsNamesThatLeaveTheFolder)
{
    EXPECT_TRUE(IsSafeFileName(u"ZV-10234.png"_s));
    EXPECT_TRUE(IsSafeFileName(u"kuva ä.jpg"_s));
    for (const QString& bad : { QString(), u"."_s, u".."_s, u"a\\b.png"_s, u"a/b"_s, u"x\ny.png"_s,
             QString(u"nul\0.png"_s) }) {
        EXPECT_FALSE(IsSafeFileName(bad)) << bad.toStdString();
    }
}

TEST(IsSafeFileName, RejectsNamesWindowsCannotHoldOrThatReadBackwards)
{
    for (const QString& good : { u"CONSOLE.png"_s, u"COM0.jpg"_s, u"LPT10"_s, u"a.b.c.jpg"_s,
             u"x.CON"_s, u"שלום.png"_s }) {
        EXPECT_TRUE(IsSafeFileName(good)) << good.toStdString();
    }
    for (const QString& bad : { u"a:b.png"_s, u"x?.png"_s, u"x*.png"_s, u"x\"y.png"_s, u"<x>.png"_s,
             u"x|y"_s, u"trailing."_s, u"trailing "_s, u"CON"_s, u"con.png"_s, u"Nul.tar.gz"_s,
             u"COM1.jpg"_s, u"lpt9"_s, u"aux .png"_s, u"photo\u202Egnp.exe"_s, u"a\u200Fb.png"_s,
             u"a\u2066b.png"_s, u"a\u061Cb.png"_s }) {
        EXPECT_FALSE(IsSafeFileName(bad)) << bad.toStdString();
    }
}

TEST(IsSameOrigin, OnlySchemeHostAndPortOfTheBaseCount)
{
    const QString base = u"http://127.0.0.1:8080"_s;
    for (const QString& link : { u"/catalog/1"_s, u"/p?x=@a:1"_s, u"/a@b"_s, u""_s }) {
        EXPECT_TRUE(IsSameOrigin(base + link, base)) << link.toStdString();
    }
    for (const QString& link : { u"@127.0.0.2:42001/p/1"_s, u"@evil.example/p"_s,
             u".evil.example/p"_s, u"0/p"_s, u"1/p"_s, u":8081/x"_s }) {
        EXPECT_FALSE(IsSameOrigin(base + link, base)) << link.toStdString();
    }
    EXPECT_TRUE(IsSameOrigin(u"https://Shop.Example/x"_s, u"https://shop.example"_s));
    EXPECT_TRUE(IsSameOrigin(u"https://shop.example:443/x"_s, u"https://shop.example"_s));
    EXPECT_FALSE(IsSameOrigin(u"http://shop.example/x"_s, u"https://shop.example"_s));
    EXPECT_FALSE(IsSameOrigin(u"/relative"_s, u"https://shop.example"_s));
    EXPECT_FALSE(IsSameOrigin(u"http://[::1/x"_s, u"http://[::1]"_s));
}

} // namespace
} // namespace zp
