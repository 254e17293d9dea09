// The pane as a light rich-text view (QTextBrowser): pages and their style
// sheets are fetched over HTTP and shown as Qt's rich text, with no browser
// engine and no script. The live part handed to it is spliced into the
// page, and the view is patched where the new rendering differs.
#include <QFont>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "status/StatusPages.h"
#include "ui/BrowserPane.h"
#include "ui/DocumentPatch.h"

namespace wendrix {

namespace {

// The base size of the view's text: keyword sizes (headings) are taken
// relative to it, as a browser takes them relative to its own.
constexpr int kTextPixels = 13;

using Resources = QHash<QUrl, QVariant>;

// A page's document: its style sheets and images come from the pane's
// resources, and those it lacks are noted for fetching.
class TPageDocument final : public QTextDocument {
 public:
  TPageDocument(const Resources& resources, QObject* parent) : QTextDocument(parent), resources_(resources) {
    setUndoRedoEnabled(false);
    QFont font;
    font.setPixelSize(kTextPixels);
    setDefaultFont(font);
  }

  std::set<QUrl> missing;

 protected:
  QVariant loadResource(int type, const QUrl& name) override {
    if (type != StyleSheetResource && type != ImageResource) return {};
    const QUrl address = baseUrl().resolved(name);
    if (const auto found = resources_.constFind(address); found != resources_.constEnd()) return *found;
    if (address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https"))
      missing.insert(address);
    return {};
  }

 private:
  const Resources& resources_;
};

// A page: where its answer came from, its HTML with the live part spliced
// in, and the style sheets and images it uses.
struct Page {
  QUrl address;
  std::string html;
  bool ok = false;
  Resources resources;

  std::unique_ptr<TPageDocument> Render() const {
    auto document = std::make_unique<TPageDocument>(resources, nullptr);
    document->setBaseUrl(address);
    document->setHtml(QString::fromStdString(html));
    return document;
  }
};

class TLightPane final : public TBrowserPane {
 public:
  TLightPane(BeforeNavigate beforeNavigate, QWidget* parent)
      : TBrowserPane(parent),
        beforeNavigate_(std::move(beforeNavigate)),
        view_(new QTextBrowser(this)),
        shown_(std::make_unique<Page>()) {
    // Only the program's own server is ever asked, on 127.0.0.1.
    network_.setProxy(QNetworkProxy::NoProxy);
    view_->setOpenLinks(false);
    view_->setFrameShape(QFrame::NoFrame);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    view_->setDocument(new TPageDocument(shown_->resources, view_));
    connect(view_, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& link) { Navigate(shown_->address.resolved(link)); });
  }

  void Navigate(const QUrl& address) override {
    bool cancel = false;
    beforeNavigate_(address, cancel);
    if (cancel) return;
    // A place in the page shown needs no load.
    if (address.hasFragment() && !shown_->address.isEmpty() &&
        address.adjusted(QUrl::RemoveFragment) == shown_->address.adjusted(QUrl::RemoveFragment)) {
      view_->scrollToAnchor(address.fragment());
      return;
    }
    Stop();
    loading_ = std::make_unique<Page>();
    loading_->address = address;
    Fetch(address, [this](QNetworkReply& reply) { PageArrived(reply); });
  }

  void Stop() override {
    loading_.reset();
    resourcesDue_ = 0;
    for (const QPointer<QNetworkReply>& reply : std::exchange(pending_, {}))
      if (reply) reply->abort();
  }

  void ShowLive(const std::string& html) override {
    std::optional<std::string> page = ReplaceLivePart(shown_->html, html);
    if (!page) return;
    shown_->html = std::move(*page);
    ShowRendering(shown_->Render());
  }

  QUrl Address() const override { return shown_->address; }
  QString Title() const override { return view_->documentTitle(); }

 private:
  template <typename Done>
  void Fetch(const QUrl& address, Done done) {
    QNetworkReply* reply = network_.get(QNetworkRequest(address));
    pending_.push_back(reply);
    connect(reply, &QNetworkReply::finished, this, [this, reply, done] {
      reply->deleteLater();
      std::erase(pending_, reply);
      if (reply->error() != QNetworkReply::OperationCanceledError) done(*reply);
    });
  }

  void PageArrived(QNetworkReply& reply) {
    Page& page = *loading_;
    const QByteArray body = reply.readAll();
    page.ok = reply.error() == QNetworkReply::NoError;
    const bool html =
        reply.header(QNetworkRequest::ContentTypeHeader).toString().startsWith(QLatin1String("text/html"));
    if (body.isEmpty() && !page.ok) {
      page.html = "<html><head><title>Wendrix</title></head><body><h1>The page cannot be shown</h1><p>" +
                  page.address.toDisplayString().toHtmlEscaped().toStdString() + "<br>" +
                  reply.errorString().toHtmlEscaped().toStdString() + "</p></body></html>";
    } else if (html) {
      page.html = body.toStdString();
    } else {
      page.html = "<html><body><pre>" + QString::fromUtf8(body).toHtmlEscaped().toStdString() +
                  "</pre></body></html>";
    }
    page.address = reply.url();
    // Rendered once to learn what it needs; shown when every fetch has ended.
    const std::set<QUrl> missing = page.Render()->missing;
    if (missing.empty()) {
      Show();
      return;
    }
    for (const QUrl& address : missing) {
      ++resourcesDue_;
      Fetch(address, [this, address](QNetworkReply& resource) {
        // One that cannot be had is shown without.
        loading_->resources.insert(
            address, resource.error() == QNetworkReply::NoError ? resource.readAll() : QByteArray());
        if (--resourcesDue_ == 0) Show();
      });
    }
  }

  void Show() {
    if (loading_->address == shown_->address) {
      // The same page again keeps its place.
      std::swap(loading_->resources, shown_->resources);
      shown_->html = std::move(loading_->html);
      shown_->ok = loading_->ok;
      ShowRendering(shown_->Render());
    } else {
      std::unique_ptr<TPageDocument> fresh = loading_->Render();
      fresh->setParent(view_);
      QTextDocument* old = view_->document();
      view_->setDocument(fresh.release());
      delete old;
      shown_ = std::move(loading_);
    }
    loading_.reset();
    emit Shown(shown_->address, shown_->ok);
  }

  // Patches the view to read as a fresh rendering of the page it shows. A
  // document patched for long is then replaced by the rendering, the
  // reader's place and selection carried over: once patched, both read the
  // same, so every position stands for the same character.
  void ShowRendering(std::unique_ptr<TPageDocument> fresh) {
    QTextDocument* shown = view_->document();
    PatchDocument(*shown, *fresh);
    if (!NeedsRenewal(*shown, *fresh)) return;
    const int anchor = view_->textCursor().anchor();
    const int position = view_->textCursor().position();
    const int top = view_->verticalScrollBar()->value();
    const int left = view_->horizontalScrollBar()->value();
    fresh->setParent(view_);
    view_->setDocument(fresh.release());
    delete shown;
    QTextCursor restored(view_->document());
    restored.setPosition(anchor);
    restored.setPosition(position, QTextCursor::KeepAnchor);
    view_->setTextCursor(restored);
    view_->verticalScrollBar()->setValue(top);
    view_->horizontalScrollBar()->setValue(left);
  }

  BeforeNavigate beforeNavigate_;
  QTextBrowser* view_;
  QNetworkAccessManager network_;
  std::vector<QPointer<QNetworkReply>> pending_;
  std::unique_ptr<Page> shown_;
  std::unique_ptr<Page> loading_;
  int resourcesDue_ = 0;
};

}  // namespace

TBrowserPane* TBrowserPane::Create(BeforeNavigate beforeNavigate, QWidget* parent) {
  return new TLightPane(std::move(beforeNavigate), parent);
}

void PrepareBrowserPane() {}

}  // namespace wendrix
