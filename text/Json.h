#pragma once

#include <string>
#include <string_view>
#include <vector>

// The JSON that scripts read from the daemon and the sender: UTF-8 in, text out.
namespace tavo::text {

// A JSON string literal of UTF-8 text.
std::string JsonString(std::string_view utf8);
std::string JsonArray(const std::vector<std::string>& utf8Items);

// Fields in the order they are added; values are JSON already.
class JsonObject {
  public:
    void Add(const std::string& key, const std::string& json);
    void AddString(const std::string& key, const std::string& utf8);
    std::string Text() const { return (text_.empty() ? "{" : text_) + "}"; }

  private:
    std::string text_;
};

} // namespace tavo::text
