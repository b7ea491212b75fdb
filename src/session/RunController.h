#pragma once

#include "net/RunNetwork.h"
#include "net/ShopAccess.h"
#include "scrape/CatalogCrawler.h"
#include "workbook/CatalogWorkbookFile.h"

#include <QString>
#include <optional>

namespace zp {

class Clock;
class Dialogs;
class Downloader;
class PageReader;
class RunView;
struct RunState;

// Where a run reads the shop and writes its files.
struct RunSettings {
    QString catalogBaseUrl; // scheme and host of the catalogue site, no trailing slash
    QString imageBaseUrl; // picture server origin followed by "/picture"
    QString programFolder; // holds the workbook and the Images folder
    // requests at once to the catalogue (RunNetwork's limits); 1 reads one page at a time
    int connections = RunNetwork::kDefaultConnections;
    FailedPagePolicy failedPages {}; // automatic retries and skipping of failed product pages
    ShopAccess access {}; // proxy and trusted certificates of every request
};

// How the last run ended.
enum class RunOutcome {
    NotRun,
    Completed, // the catalogue was walked to its end and saved
    // walked to its end and saved, but products were skipped or pictures
    // lost to faults that may pass: the next run has them to fill in
    CompletedWithGaps,
    Stopped, // stopped by the user or a declined retry, what was written is saved
    NoSiteAccess, // the first listing page could not be had
    WorkbookUnusable, // the workbook could not be opened, created, checked or saved
};

// The Start/Stop button's handler: one call while idle performs a whole run
// (first listing page, workbook, Images folder, crawl, save, report, hand
// over); a call while a run is in progress only asks whether to stop it.
class RunController {
public:
    static inline const QString FirstListingPath = QStringLiteral("/catalog/3833/Zavrinello");

    RunController(RunState& state, RunView& view, Dialogs& dialogs, PageReader& pages,
        Downloader& downloader, const Clock& clock, RunSettings settings,
        CatalogWorkbookFile::Handover handover);

    void Command1_Click();

    RunOutcome lastOutcome() const { return m_outcome; }

private:
    void performRun();
    void askToStop();
    struct CrawlEnd {
        CatalogCrawler::Failure failure = CatalogCrawler::Failure::None;
        qint32 savedCount = 0; // new rows in the file at the crawl's last save
        std::optional<Failure> saveFailure; // why the periodic save failed
    };

    bool openWorkbook();
    // The question whether to go on although another program has the
    // workbook open; true on Yes.
    bool goOnDespiteLock(const WorkbookOpening& opening);
    // What the user is told when the workbook cannot be used; empty for Ready.
    static QString openingMessage(const WorkbookOpening& opening);
    // Makes sure Images is a writable folder and clears what killed
    // downloads left in it; false, with a message, when it cannot be used.
    bool prepareImagesFolder();
    // The first listing page's links; nothing when it could not be had
    // (failure: why) or a stop came first.
    std::optional<ListingLinks> readFirstListing(QString& failure);
    ScrapeContext scrapeContext(CatalogSheet& sheet);
    CrawlEnd crawl(const ListingLinks& firstLinks);
    // Waits for the pictures of the rows to save (a second stop leaves out
    // the rows whose pictures it gave up), tells the user why a crawl ended
    // early and saves; false when the rows kept are not all in the file.
    bool finishCrawl(const CrawlEnd& end);
    bool saveWorkbook();
    void showSaveFailed(const std::optional<Failure>& failure);
    // A failure's message box, with the reason beneath it when there is one;
    // a run without a window writes the reason to standard error.
    void showFailure(const QString& text, const std::optional<Failure>& failure);
    // usable: saved, and the crawl was not cut short by a full sheet;
    // stored: the new rows that are in the file.
    void report(bool usable, qint32 stored);
    void endRun();

    RunState& m_state;
    RunView& m_view;
    Dialogs& m_dialogs;
    PageReader& m_pages;
    Downloader& m_downloader;
    const Clock& m_clock;
    RunSettings m_settings;
    CatalogWorkbookFile m_workbookFile;
    RunOutcome m_outcome = RunOutcome::NotRun;
};

} // namespace zp
