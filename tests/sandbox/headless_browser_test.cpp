// The stand-in browser against a plain server on 127.0.0.1: what it sends, how far it follows, and
// how it gives up.
#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

#include "sandbox/HeadlessBrowser.h"
#include "tests/sandbox/SandboxTestSupport.h"

namespace vekta::test {
namespace {

using namespace std::chrono_literals;

// A server of odd pages, on a free port, stopped and joined when the test ends.
class OddPages {
public:
    OddPages() {
        const std::pair<const char*, const char*> redirects[] = {
            {"/start", "/land?q=a%20b%2Bc%2A&empty="}, {"/away", "http://198.51.100.7/elsewhere"}, {"/loop", "/loop"}};
        for (const auto& redirect : redirects) {
            server_.Get(redirect.first, [location = redirect.second](const httplib::Request&, httplib::Response& res) {
                res.status = 302;
                res.set_header("Location", location);
            });
        }
        server_.Get("/land", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            landedQuery_ = req.get_param_value("q");
            res.set_content("landed", "text/plain");
        });
        server_.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](std::size_t offset, httplib::DataSink& sink) {
                if (offset < 3 * 5000) {
                    const std::string piece(5000, static_cast<char>('a' + offset / 5000));
                    sink.write(piece.data(), piece.size());
                } else {
                    sink.done();
                }
                return true;
            });
        });
        server_.Get("/slow", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(1500ms);
            res.set_content("late", "text/plain");
        });
        server_.Get("/huge", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(5 * MB, 'x'), "text/plain");
        });
        // One worker, one request a connection: the browser asks one thing at a time, and the
        // server's threads then never meet inside the library.
        server_.new_task_queue = [] { return new httplib::ThreadPool(1); };
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        const auto deadline = std::chrono::steady_clock::now() + kTimeout;
        while (!server_.is_running() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    }
    ~OddPages() {
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    std::string LandedQuery() {
        std::lock_guard lock(mutex_);
        return landedQuery_;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::string landedQuery_;
};

TEST(HeadlessBrowserTest, SendsTargetsAsGivenAndReadsAnswersWhole) {
    OddPages pages;
    const auto result = HeadlessBrowser().Open(pages.Url("/start"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.page.status, 200);
    EXPECT_EQ(result.page.body, "landed");
    EXPECT_EQ(result.page.url, pages.Url("/land?q=a%20b%2Bc%2A&empty="));
    EXPECT_EQ(result.hops, 2);
    EXPECT_EQ(pages.LandedQuery(), "a b+c*");
    // '+' is a space in a query and "%2B" a plus: re-encoding either would change the value.
    ASSERT_TRUE(HeadlessBrowser().Open(pages.Url("/land?q=a+b%2Bc")).ok);
    EXPECT_EQ(pages.LandedQuery(), "a b+c");
    const auto chunked = HeadlessBrowser().Get(pages.Url("/chunked"));
    ASSERT_TRUE(chunked.ok) << chunked.error;
    EXPECT_EQ(chunked.page.body, std::string(5000, 'a') + std::string(5000, 'b') + std::string(5000, 'c'));
}

TEST(HeadlessBrowserTest, GivesUpWithTheReason) {
    OddPages pages;
    const struct {
        std::string url;
        std::string reason;
        int hops;
    } cases[] = {
        {pages.Url("/huge"), "larger than", 1},         {pages.Url("/away"), "loopback", 1},
        {pages.Url("/loop"), "too many redirects", 10}, {"http://127.0.0.1:1/", "cannot connect", 1},
        {"https://127.0.0.1/", "loopback", 0},
    };
    // A limit the slow page always outlasts; the others get time enough on a loaded machine.
    const auto slow = HeadlessBrowser(HeadlessBrowser::Choice::Authorize, 300ms).Open(pages.Url("/slow"));
    EXPECT_FALSE(slow.ok);
    EXPECT_NE(slow.error.find("timed out"), std::string::npos) << slow.error;
    EXPECT_EQ(slow.hops, 1);
    for (const auto& c : cases) {
        const auto result = HeadlessBrowser(HeadlessBrowser::Choice::Authorize, 20s).Open(c.url);
        EXPECT_FALSE(result.ok) << c.url;
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << c.url << ": " << result.error;
        EXPECT_EQ(result.hops, c.hops) << c.url;
    }
}

}  // namespace
}  // namespace vekta::test
