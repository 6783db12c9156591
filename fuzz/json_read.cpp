// The facts of quarlix-info's JSON and of a model's JSON chunk.
#include "fuzz/json_read.h"

#include <nlohmann/json.hpp>

namespace quarlix::fuzz {

namespace {

using json = nlohmann::json;

/// Counts the elements of the top object's "rooms" and "problems" arrays and adds up the
/// "count"s of its "problems_unlisted", keeping "counts"/"rooms" on the way.
class facts_reader : public nlohmann::json_sax<json> {
  public:
    explicit facts_reader(info_json_facts& facts) : facts_(facts) {}

    bool null() override { return element(); }
    bool boolean(bool) override { return element(); }
    bool number_integer(number_integer_t n) override {
        return number(n < 0 ? UINT64_MAX : static_cast<std::uint64_t>(n));
    }
    bool number_unsigned(number_unsigned_t n) override { return number(n); }
    bool number_float(number_float_t, const string_t&) override { return element(); }
    bool string(string_t&) override { return element(); }
    bool binary(binary_t&) override { return element(); }
    bool start_object(std::size_t) override { return open(); }
    bool start_array(std::size_t) override { return open(); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override {
        if (depth_ == 1) {
            top_key_ = name;
        } else if (depth_ == 2 || depth_ == 3) {
            inner_key_ = name;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& e) override {
        facts_.error = e.what();
        return false;
    }

  private:
    /// A value starts at the current depth.
    bool element() {
        if (depth_ == 2 && top_key_ == "rooms") {
            ++facts_.rooms;
        } else if (depth_ == 2 && top_key_ == "problems") {
            ++facts_.problems;
        }
        return true;
    }
    bool number(std::uint64_t n) {
        element();
        if (depth_ == 2 && top_key_ == "counts" && inner_key_ == "rooms") {
            facts_.counted_rooms = n;
        } else if (depth_ == 3 && top_key_ == "problems_unlisted" && inner_key_ == "count") {
            facts_.unlisted += n;
        }
        return true;
    }
    bool open() {
        element();
        ++depth_;
        return true;
    }
    bool close() {
        --depth_;
        return true;
    }

    info_json_facts& facts_;
    std::size_t depth_ = 0;
    std::string top_key_, inner_key_;
};

} // namespace

info_json_facts read_info_json(std::string_view text) {
    info_json_facts facts;
    facts_reader reader(facts);
    if (!json::sax_parse(text, &reader) && facts.error.empty()) {
        facts.error = "the parse stopped";
    }
    return facts;
}

model_json_facts read_model_json(std::string_view text) {
    model_json_facts facts;
    try {
        const json gltf = json::parse(text);
        // Every room is a node named for it; items, instances and sprites are nodes besides.
        for (const json& node : gltf.value("nodes", json::array())) {
            const std::string name = node.value("name", "");
            facts.room_nodes += name.size() > 5 && name.compare(0, 5, "room ") == 0 &&
                                name.find_first_not_of("0123456789", 5) == std::string::npos;
        }
        if (gltf.contains("buffers")) {
            facts.buffer_bytes = gltf.at("buffers").at(0).at("byteLength").get<std::uint64_t>();
        }
    } catch (const json::exception& e) {
        facts.error = e.what();
    }
    return facts;
}

} // namespace quarlix::fuzz
