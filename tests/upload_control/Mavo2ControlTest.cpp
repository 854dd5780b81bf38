// The control as a host sees it: events, Response, one request at a time, lifetime.

#include "platform/com/Bstr.h"
#include "platform/com/ComponentLoader.h"
#include "tests/upload_control/ControlHarness.h"
#include "tests/upload_control/RawHttpListener.h"

#include <QCoreApplication>
#include <QImage>
#include <QTimer>

#include <condition_variable>
#include <future>
#include <mutex>

#include <gtest/gtest.h>

namespace {

using cf::com::Bstr;
using cf::com::BSTR;

RawHttpListener::Reply Ok(const QByteArray& body) { return {RawHttpListener::Answer(200, body)}; }

TEST(Mavo2Control, EachRequestEndsWithExactlyOneEventOfItsKindOnTheGuiThread) {
  RawHttpListener listener(
      [](const RawHttpListener::Request& request, int) { return Ok(request.Path()); });
  ControlHarness control;
  const Bstr url(listener.Url(QStringLiteral("/r/")));
  control->GetFolder(url, Bstr(u"a"), Bstr(u"b"), Bstr(u""));
  ASSERT_TRUE(control.WaitForEvents(1));
  control->getVersion(url);
  ASSERT_TRUE(control.WaitForEvents(1));
  control->GetVersion2(url, Bstr(u"a"), Bstr(u"b"), 1, 2, Bstr(u"3"), Bstr(u""));
  ASSERT_TRUE(control.WaitForEvents(1));
  control->Post(url, Bstr(u"a=1"));
  ASSERT_TRUE(control.WaitForEvents(1));
  // Nothing further arrives once every request has been answered.
  QCoreApplication::processEvents();

  const std::vector<cf::com::DISPID> expected = {
      kqmavo2::DISPID_OnGetFolderFinished, kqmavo2::DISPID_OnGetVersionFinished,
      kqmavo2::DISPID_OnGetVersionFinished, kqmavo2::DISPID_OnPostFinished};
  ASSERT_EQ(control.Fired().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(control.Fired()[i].event, expected[i]);
    EXPECT_TRUE(control.Fired()[i].onGuiThread);
  }
}

// The host learns from the document that the server stopped answering, through the event it
// waits for; the deadline comes from the user's settings.
TEST(Mavo2Control, ARequestTheServerDragsOutEndsAtTheSetDeadline) {
  const ScopedControlSetting deadline("requestDeadlineSeconds", QStringLiteral("0.3"));
  RawHttpListener listener([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{.bytes = RawHttpListener::Answer(200, "<version/>"),
                                  .dripMs = 40};
  });
  ControlHarness control;
  control->GetVersion2(Bstr(listener.Url(QStringLiteral("/mavo/getVersion/"))), Bstr(u"a"),
                       Bstr(u"b"), 1, 2, Bstr(u"3"), Bstr(u""));
  ASSERT_TRUE(control.WaitForEvents(1));
  ASSERT_EQ(control.Fired().size(), 1u);
  EXPECT_EQ(control.Fired()[0].event, kqmavo2::DISPID_OnGetVersionFinished);
  EXPECT_EQ(control.Response(), QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>"
                                               "<getVersion ver=\"2.0\"><errInfo>1005</errInfo>"
                                               "</getVersion>"));
}

TEST(Mavo2Control, ResponseHandsOutEqualIndependentCopies) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) { return Ok("<answer/>"); });
  ControlHarness control;
  control->getVersion(Bstr(listener.Url(QStringLiteral("/v/"))));
  ASSERT_TRUE(control.WaitForEvents(1));
  BSTR first = nullptr;
  BSTR second = nullptr;
  ASSERT_EQ(control->get_Response(&first), cf::com::S_OK);
  ASSERT_EQ(control->get_Response(&second), cf::com::S_OK);
  ASSERT_NE(first, second);
  EXPECT_EQ(Bstr::ToQString(first), QStringLiteral("<answer/>"));
  first[0] = u'X';
  EXPECT_EQ(Bstr::ToQString(second), QStringLiteral("<answer/>"));
  cf::com::SysFreeString(first);
  cf::com::SysFreeString(second);
  EXPECT_EQ(control.Response(), QStringLiteral("<answer/>"));
}

// Holds the first request's answer until told, counting what arrives meanwhile.
struct HeldFirstAnswer {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  std::promise<void> firstArrived;

  RawHttpListener::Reply operator()(const RawHttpListener::Request& request, int index) {
    if (index == 0) {
      firstArrived.set_value();
      std::unique_lock lock(mutex);
      released.wait(lock, [this] { return release; });
    }
    return Ok(request.Path());
  }
  void Release() {
    std::lock_guard guard(mutex);
    release = true;
    released.notify_all();
  }
};

TEST(Mavo2Control, ARequestStartedDuringAnotherWaitsForItThenRuns) {
  for (const bool sameInstance : {true, false}) {
    HeldFirstAnswer held;
    auto arrived = held.firstArrived.get_future();
    RawHttpListener listener([&](const RawHttpListener::Request& r, int i) { return held(r, i); });
    ControlHarness first;
    ControlHarness other;
    ControlHarness& second = sameInstance ? first : other;
    first->GetFolder(Bstr(listener.Url(QStringLiteral("/first/"))), Bstr(u"a"), Bstr(u"b"),
                     Bstr(u""));
    arrived.wait();
    EXPECT_EQ(second->Post(Bstr(listener.Url(QStringLiteral("/second/"))), Bstr(u"x=1")),
              cf::com::S_OK);
    // Give a request that does not wait every chance to reach the listener.
    QTimer::singleShot(300, [&] { held.Release(); });
    ASSERT_TRUE(first.WaitForTotal(sameInstance ? 2 : 1));
    ASSERT_TRUE(second.WaitForTotal(sameInstance ? 2 : 1));

    const auto requests = listener.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Path(), "/first/");
    EXPECT_EQ(requests[1].Path(), "/second/");
    EXPECT_EQ(listener.MaxConcurrent(), 1)
        << "requests overlapped, same instance: " << sameInstance;
    EXPECT_EQ(second.Fired().back().event, kqmavo2::DISPID_OnPostFinished);
    EXPECT_EQ(second.Response(), QStringLiteral("/second/"));
  }
}

TEST(Mavo2Control, EventsReachEverySinkInConnectionOrderUntilItDisconnects) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) { return Ok("<ok/>"); });
  ControlHarness control;
  std::vector<int> calls;
  auto a = cf::com::DispatchSink::Create(kqmavo2::DIID__Imavo2Events);
  auto b = cf::com::DispatchSink::Create(kqmavo2::DIID__Imavo2Events);
  a->On(kqmavo2::DISPID_OnPostFinished, [&] { calls.push_back(1); });
  b->On(kqmavo2::DISPID_OnPostFinished, [&] { calls.push_back(2); });
  cf::com::DWORD cookieA = 0;
  cf::com::DWORD cookieB = 0;
  ASSERT_EQ(control.Events()->Advise(a.get(), &cookieA), cf::com::S_OK);
  ASSERT_EQ(control.Events()->Advise(b.get(), &cookieB), cf::com::S_OK);
  control->Post(Bstr(listener.Url(QStringLiteral("/p/"))), Bstr(u"x=1"));
  ASSERT_TRUE(control.WaitForEvents(1));
  EXPECT_EQ(calls, (std::vector<int>{1, 2}));

  EXPECT_EQ(control.Events()->Unadvise(cookieA), cf::com::S_OK);
  EXPECT_EQ(control.Events()->Unadvise(cookieA), cf::com::CONNECT_E_NOCONNECTION);
  control->Post(Bstr(listener.Url(QStringLiteral("/p/"))), Bstr(u"x=1"));
  ASSERT_TRUE(control.WaitForEvents(1));
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 2}));
  control.Events()->Unadvise(cookieB);
}

TEST(Mavo2Control, ReleasingTheControlDuringARequestEndsItQuietly) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) {
    return RawHttpListener::Reply{{}, true};
  });
  const QString module = ControlHarness::ModulePath();
  {
    ControlHarness control;
    control->GetFolder(Bstr(listener.Url(QStringLiteral("/never/"))), Bstr(u"a"), Bstr(u"b"),
                       Bstr(u""));
    while (listener.Requests().empty()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    control.ReleaseControl();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_TRUE(control.Fired().empty());
  }
  EXPECT_TRUE(cf::com::ComponentLoader::CanUnloadModule(module));
}

TEST(Mavo2Control, PlainMembersAnswerAtOnceAndExecStatusKeepsWhatTheCallerPut) {
  ControlHarness control;
  cf::com::LONG value = -1;
  EXPECT_EQ(control->get_UploadingProgress(&value), cf::com::S_OK);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(control->put_ExecStatus(2), cf::com::S_OK);
  EXPECT_EQ(control->get_ExecStatus(&value), cf::com::S_OK);
  EXPECT_EQ(value, 2);
  EXPECT_EQ(control->CancelPutFile(), cf::com::S_OK);
  EXPECT_EQ(control.Response(), QString());
  // With no service configured the login reaches nothing and leaves a status other than 0 alone.
  EXPECT_EQ(control->LoginYouTube(Bstr(u"u"), Bstr(u"p")), cf::com::S_OK);
  EXPECT_EQ(control->get_ExecStatus(&value), cf::com::S_OK);
  EXPECT_EQ(value, 2);
  Bstr text;
  EXPECT_EQ(control->get_YouTubeReponse(text.Out()), cf::com::S_OK);
  EXPECT_EQ(text.ToQString(), QString());
  EXPECT_EQ(control->GetYouTubeCategoryList(nullptr), cf::com::E_POINTER);
  EXPECT_EQ(control->get_YouTubeReponse(nullptr), cf::com::E_POINTER);
  EXPECT_EQ(control->get_Response(nullptr), cf::com::E_POINTER);
}

TEST(Mavo2Control, MembersCanBeCalledThroughDispatchByName) {
  RawHttpListener listener([](const RawHttpListener::Request&, int) { return Ok("<v/>"); });
  ControlHarness control;
  const cf::com::OLECHAR* name = u"getVersion";
  cf::com::DISPID id = 0;
  ASSERT_EQ(control->GetIDsOfNames(cf::com::IID_NULL, &name, 1, cf::com::LOCALE_USER_DEFAULT, &id),
            cf::com::S_OK);
  EXPECT_EQ(id, kqmavo2::DISPID_getVersion);
  cf::com::Variant url;
  url.vt = cf::com::VT_BSTR;
  url.bstrVal = Bstr(listener.Url(QStringLiteral("/v/"))).Detach();
  cf::com::DispParams params{&url, nullptr, 1, 0};
  EXPECT_EQ(control->Invoke(id, cf::com::IID_NULL, 0, cf::com::DISPATCH_METHOD, &params, nullptr),
            cf::com::S_OK);
  cf::com::VariantClear(&url);
  ASSERT_TRUE(control.WaitForEvents(1));

  cf::com::Variant result;
  cf::com::DispParams none;
  EXPECT_EQ(control->Invoke(kqmavo2::DISPID_Response, cf::com::IID_NULL, 0,
                            cf::com::DISPATCH_PROPERTYGET, &none, &result),
            cf::com::S_OK);
  EXPECT_EQ(result.vt, cf::com::VT_BSTR);
  EXPECT_EQ(Bstr::ToQString(result.bstrVal), QStringLiteral("<v/>"));
  cf::com::VariantClear(&result);
  // A number where a string belongs is refused before anything starts.
  cf::com::Variant wrong;
  wrong.vt = cf::com::VT_I4;
  cf::com::DispParams bad{&wrong, nullptr, 1, 0};
  EXPECT_EQ(control->Invoke(id, cf::com::IID_NULL, 0, cf::com::DISPATCH_METHOD, &bad, nullptr),
            cf::com::E_INVALIDARG);
}

TEST(Mavo2Control, DrawsItsCaptionInItsWindow) {
  ControlHarness control;
  auto inPlace = cf::com::ComPtr<kqmavo2::Imavo2>(control.Control()).As<cf::com::IInPlaceControl>();
  ASSERT_TRUE(inPlace);
  QWidget* window = inPlace->Window();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->parentWidget(), control.Host());
  window->resize(200, 40);
  const QImage picture = window->grab().toImage();
  const QRgb background = picture.pixel(picture.width() / 2, 2);
  int inked = 0;
  for (int x = 0; x < picture.width(); ++x) {
    for (int y = 4; y < picture.height() / 2; ++y)
      inked += picture.pixel(x, y) != background ? 1 : 0;
  }
  EXPECT_GT(inked, 20);                        // text above the baseline at mid height
  EXPECT_NE(picture.pixel(0, 0), background);  // the frame
}

}  // namespace
