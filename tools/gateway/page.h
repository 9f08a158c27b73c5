#pragma once
// The gateway's page (page.html, compiled in): one self-contained document with its style and
// script inline, nothing fetched from elsewhere.

#include <string>

namespace vantrel::gateway {

const std::string& page_html();

}  // namespace vantrel::gateway
