#pragma once

#include "FakeClock.h"
#include "FakeDownloader.h"
#include "FakePageReader.h"
#include "FakeRunView.h"
#include "FakeSheet.h"
#include "run/RunState.h"
#include "scrape/ScrapeContext.h"
#include "support/ScriptedDialogs.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace zp::test {

inline const QString TestCatalogBaseUrl = QStringLiteral("https://shop.tolmari.example");
inline const QString TestImageBaseUrl = QStringLiteral("https://images.tolmari.example/picture");
// The sheet row the first new product of a test goes to.
inline constexpr int FirstRow = 2;

// Every service of a scrape run as a fake, fresh for each test: a workbook
// whose next row is FirstRow, the fixed columns ready, a program folder with
// an empty Images folder, and a clock 1 h 2 min 5 s after the run's start.
class ScrapeFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.isValid());
        ASSERT_TRUE(QDir(m_folder.path()).mkdir(QStringLiteral("Images")));
        state.NextRow = FirstRow;
        state.FixedColumnCount = 14;
        state.StartTime = QDateTime(QDate(2024, 3, 1), QTime(10, 0, 0));
        clock.set(state.StartTime.addSecs(3725));
        view.setCounterText(QStringLiteral("0"));
        pages.watchStopFlag(&state.StopRequested);
    }

    ScrapeContext context()
    {
        return ScrapeContext { state, sheet, view, dialogs, pages, downloader, clock,
            TestCatalogBaseUrl, TestImageBaseUrl, m_folder.path() };
    }

    QString programFolder() const { return m_folder.path(); }
    QString imagesPath(const QString& fileName) const
    {
        return m_folder.path() + QStringLiteral("/Images/") + fileName;
    }

    RunState state;
    FakeSheet sheet;
    FakeRunView view;
    ScriptedDialogs dialogs;
    FakePageReader pages;
    FakeDownloader downloader;
    FakeClock clock;

private:
    QTemporaryDir m_folder;
};

} // namespace zp::test
