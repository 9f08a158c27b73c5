// The gateway's page in a real browser (headless Chromium): it loads and draws the ring and the
// table from the event stream, fits a laptop's and a phone's screen, and with the token given a
// click on "column 3" moves the rotor, which ring and table follow. Screenshots are kept in the
// build tree (tests/tools/artifacts/).
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/tools/browser.h"
#include "tests/tools/gateway_harness.h"

using namespace vantrel;
using namespace vantrel::test;
using namespace std::chrono_literals;

namespace {

class GatewayPage : public SystemTest {};

TEST_F(GatewayPage, RingAndTableFollowAMoveStartedByAClick) {
    Analyser analyser;
    ASSERT_TRUE(analyser.start_ready());
    ASSERT_TRUE(analyser.home());
    GatewayProcess gateway(analyser.path("gateway.token"));
    const std::string artifacts = VANTREL_TEST_ARTIFACTS;
    std::filesystem::create_directories(artifacts);
    Browser browser(analyser.path("chromium-profile"), artifacts + "/chromium.log");

    browser.viewport(1280, 800, false);
    browser.open(gateway.url());
    ASSERT_TRUE(
        browser.wait_for("document.querySelectorAll('#rotor .slot').length === 6 && "
                         "document.querySelectorAll('#columns tbody tr').length === 6 && "
                         "document.getElementById('connection').textContent === "
                         "'connected'",
                         20s))
        << browser.evaluate("document.body.innerText");
    EXPECT_EQ(browser.evaluate("document.querySelector('#rotor .slot.current').dataset.column"),
              "1");
    // Nothing wider than the screen.
    EXPECT_EQ(browser.evaluate("document.documentElement.scrollWidth <= innerWidth"), true);
    // Without the token the buttons do nothing.
    EXPECT_EQ(browser.evaluate("document.querySelector('button[data-column=\"3\"]').disabled"),
              true);

    browser.type("#token", gateway.token());
    ASSERT_TRUE(
        browser.wait_for("!document.querySelector('button[data-column=\"3\"]').disabled", 5s));
    ASSERT_EQ(browser.evaluate("document.querySelector('button[data-column=\"3\"]').textContent"),
              "column 3");
    browser.click("button[data-column=\"3\"]");

    // While it moves the ring says so and turns; then column 3 stands at the working place, in
    // the ring as in the table.
    ASSERT_TRUE(
        browser.wait_for("document.getElementById('caption').textContent === 'moving'", 20s))
        << browser.evaluate("document.body.innerText");
    const std::string turning =
        browser.evaluate("document.getElementById('rotor').getAttribute('transform')");
    ASSERT_TRUE(browser.wait_for(
        "document.querySelector('#rotor .slot.current')?.dataset.column === '3' && "
        "document.querySelector('#columns tr.current')?.dataset.column === '3' && "
        "document.getElementById('caption').textContent === 'column 3' && "
        "document.getElementById('operations').textContent.includes('column 3: reached')",
        30s))
        << browser.evaluate("document.body.innerText");
    EXPECT_NE(browser.evaluate("document.getElementById('rotor').getAttribute('transform')"),
              turning);
    EXPECT_EQ(analyser.current_column(), 3);
    // Drawn where it stands: under the working place's marker.
    EXPECT_EQ(browser.evaluate(
                  "(() => { const s = document.querySelector('#rotor .slot.current')"
                  ".getBoundingClientRect(), p = document.getElementById('place')"
                  ".getBoundingClientRect(); return Math.abs(s.x + s.width / 2 - p.x - p.width / "
                  "2) < 3 && s.y > p.y && s.y - p.bottom < s.height; })()"),
              true);
    browser.screenshot(artifacts + "/gateway-page-1280x800.png");

    // A phone: one column of panels, still nothing wider than the screen.
    browser.viewport(390, 844, true);
    browser.open(gateway.url());
    ASSERT_TRUE(
        browser.wait_for("document.querySelectorAll('#columns tbody tr').length === 6", 20s));
    EXPECT_EQ(browser.evaluate("document.documentElement.scrollWidth <= innerWidth"), true);
    browser.screenshot(artifacts + "/gateway-page-phone.png");
    EXPECT_GT(std::filesystem::file_size(artifacts + "/gateway-page-1280x800.png"), 10000u);
}

}  // namespace
