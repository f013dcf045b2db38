#include "Desktop/Linux/AtspiDraftReader.h"

#include <gio/gio.h>

#include <chrono>
#include <functional>
#include <vector>

#include "Desktop/Linux/AtspiNodes.h"

namespace desktop::x11 {

using namespace atspi;

namespace {
// The nesting of embedded objects in a draft stops at this depth.
constexpr int kMaxEmbedding = 16;
// A long text comes in pieces of this many characters, each one bounded bus call.
constexpr int kReadChunk = 1 << 16;
constexpr std::string_view kObjectReplacement = "\xEF\xBF\xBC";
constexpr size_t kMaxKnownLayouts = 1 << 14;
constexpr size_t kLinesAskedTogether = 64;
constexpr size_t kMaxLinesListed = 1024;

// What an embedded object says of itself, asked of every object of a text at once: a line costs
// no round trip of its own.
struct Answers {
    std::optional<AtspiRole> role;
    std::optional<std::string> display;
    std::optional<std::string> text;
    bool attributesRead = false;
    // Plain text that needs nothing more: no embedded object of its own, not empty.
    bool complete() const {
        return role && text && !text->empty() && text->find(kObjectReplacement) == std::string::npos;
    }
};

struct Question {
    Answers* answers;
    enum class Kind { role, attributes, text } kind;
    int* outstanding;
};

void onAnswer(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<Question> question(static_cast<Question*>(data));
    --*question->outstanding;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (failed(error) || !reply) return;
    auto& answers = *question->answers;
    switch (question->kind) {
    case Question::Kind::role: {
        guint32 role = 0;
        g_variant_get(reply, "(u)", &role);
        answers.role = static_cast<AtspiRole>(role);
        break;
    }
    case Question::Kind::attributes: {
        GVariant* attributes = g_variant_get_child_value(reply, 0);
        const char* display = nullptr;
        if (g_variant_lookup(attributes, "display", "&s", &display)) answers.display = display;
        answers.attributesRead = true;
        g_variant_unref(attributes);
        break;
    }
    case Question::Kind::text: {
        const char* text = nullptr;
        g_variant_get(reply, "(&s)", &text);
        answers.text = cleanText(text);
        break;
    }
    }
    g_variant_unref(reply);
}

using ObjectPath = std::pair<std::string, std::string>;

// The children of `node` as the bus names them, in one call; none when it fails.
std::optional<std::vector<ObjectPath>> childrenOf(GDBusConnection* bus, AtspiAccessible* node, int timeoutMs) {
    const AtspiObject& object = node->parent;
    if (!object.app || !object.app->bus_name || !object.path) return std::nullopt;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, object.app->bus_name, object.path, "org.a11y.atspi.Accessible",
                                                  "GetChildren", nullptr, G_VARIANT_TYPE("(a(so))"),
                                                  G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, &error);
    if (failed(error) || !reply) return std::nullopt;
    std::vector<ObjectPath> children;
    GVariantIter* iter = nullptr;
    const char* name = nullptr;
    const char* path = nullptr;
    g_variant_get(reply, "(a(so))", &iter);
    while (g_variant_iter_next(iter, "(&s&o)", &name, &path)) children.emplace_back(name, path);
    g_variant_iter_free(iter);
    g_variant_unref(reply);
    return children;
}

// Asks the objects from `first` to `last` their text, and their role and attributes unless known,
// all at once, and waits for all the answers (each question is bounded in time).
void askAll(LineQuestions& lines, const std::vector<ObjectPath>& objects, size_t first, size_t last,
            std::vector<Answers>& answers, int timeoutMs) {
    int outstanding = 0;
    // The answers come on a context of our own: nothing else runs while the reader waits.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    auto ask = [&](size_t index, Question::Kind kind, const char* interface, const char* method, GVariant* arguments) {
        const auto& [name, path] = objects[index];
        ++outstanding;
        g_dbus_connection_call(lines.bus, name.c_str(), path.c_str(), interface, method, arguments, nullptr,
                               G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, onAnswer,
                               new Question{&answers[index], kind, &outstanding});
    };
    for (size_t i = first; i < last; ++i) {
        ask(i, Question::Kind::text, "org.a11y.atspi.Text", "GetText", g_variant_new("(ii)", 0, -1));
        if (auto known = lines.layouts.find(objects[i]); known != lines.layouts.end()) {
            answers[i].role = known->second.role;
            answers[i].display = known->second.display;
            continue;
        }
        ask(i, Question::Kind::role, "org.a11y.atspi.Accessible", "GetRole", nullptr);
        ask(i, Question::Kind::attributes, "org.a11y.atspi.Accessible", "GetAttributes", nullptr);
    }
    while (outstanding > 0) g_main_context_iteration(context, TRUE);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    // Bounded: the lines of the drafts of a long session.
    if (lines.layouts.size() > kMaxKnownLayouts) lines.layouts.clear();
    for (size_t i = first; i < last; ++i) {
        if (answers[i].role && answers[i].attributesRead)
            lines.layouts.emplace(objects[i], LineQuestions::Layout{*answers[i].role, answers[i].display});
    }
}

// Reads a draft as its app will send it, within the limits of characters and time.
class DraftReader {
public:
    explicit DraftReader(LineQuestions* lines) : lines_(lines) {}

    std::optional<TextRead> read(AtspiAccessible* box) {
        deadline_ = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(kReadTimeLimit));
        if (!appendText(box, 0) && !appendChildren(box, 0)) return std::nullopt;
        // Counted in the text as it reads (embedded objects expanded), as the watcher counts it.
        auto characters = static_cast<size_t>(g_utf8_strlen(out_.data(), static_cast<gssize>(out_.size())));
        return TextRead{std::move(out_), complete_, characters + (complete_ ? 0 : 1)};
    }

private:
    bool spent() {
        if (characters_ > static_cast<size_t>(kMaxCharacters) ||
            std::chrono::steady_clock::now() > deadline_)
            complete_ = false;
        return !complete_;
    }

    // A call that failed (a busy app times out) may have lost a piece: the read is cut off there.
    bool lost(GError*& error) {
        if (!failed(error)) return false;
        complete_ = false;
        return true;
    }

    void append(std::string_view piece) {
        if (piece.empty()) return;
        if (lineBreakDue_ && piece.front() != '\n' && !out_.empty() && out_.back() != '\n') out_ += '\n';
        lineBreakDue_ = false;
        out_ += piece;
    }
    void startLine() {
        if (!out_.empty() && out_.back() != '\n') out_ += '\n';
        lineBreakDue_ = false;
    }

    // The element's own Text, embedded objects expanded; false when it has no Text.
    bool appendText(AtspiAccessible* node, int depth) {
        AtspiText* text = atspi_accessible_get_text_iface(node);
        if (!text) return false;
        auto content = ownText(text, depth);
        g_object_unref(text);
        if (!content) return false;
        appendExpanded(node, *content, depth);
        return true;
    }

    // A line or an inline object comes in one call; the box itself, which may be long, in
    // pieces of a counted length (GTK 4 also answers "" to the whole range of an entry).
    std::optional<std::string> ownText(AtspiText* text, int depth) {
        GError* error = nullptr;
        if (depth > 0) {
            gchar* chars = atspi_text_get_text(text, 0, -1, &error);
            std::string whole = lost(error) ? std::string() : cleanText(chars);
            g_free(chars);
            if (!whole.empty()) {
                characters_ += static_cast<size_t>(g_utf8_strlen(whole.data(), static_cast<gssize>(whole.size())));
                return whole;
            }
        }
        gint count = atspi_text_get_character_count(text, &error);
        if (lost(error)) return std::nullopt;
        std::string whole;
        for (gint start = 0; start < count && !spent(); start += kReadChunk) {
            gint end = std::min(count, start + kReadChunk);
            gchar* chars = atspi_text_get_text(text, start, end, &error);
            if (failed(error)) {
                g_free(chars);
                complete_ = false;
                break;
            }
            whole += cleanText(chars);
            g_free(chars);
            characters_ += static_cast<size_t>(end - start);
        }
        return whole;
    }

    void appendExpanded(AtspiAccessible* node, std::string_view text, int depth) {
        size_t objects = 0;
        for (size_t at = text.find(kObjectReplacement); at != std::string_view::npos;
             at = text.find(kObjectReplacement, at + 1))
            ++objects;
        if (objects == 0) return append(text);
        // Text runs may be children too (Chromium's): then the n-th object is the n-th link.
        // Where every child is an object, a child costs one call instead of two.
        // A text of very many lines is read one line after the other as far as its time allows: an
        // app lists thousands of children slower than that.
        bool together = lines_ && lines_->bus && objects <= kMaxLinesListed;
        auto listed = together ? childrenOf(lines_->bus, node, msLeft()) : std::nullopt;
        GError* error = nullptr;
        gint children = listed ? static_cast<gint>(listed->size()) : atspi_accessible_get_child_count(node, &error);
        bool byChild = !lost(error) && children == static_cast<gint>(objects);
        // Asked a batch at a time, so that a long draft stops at the read's time limit.
        std::vector<Answers> answers(byChild && listed ? listed->size() : 0);
        size_t asked = 0;
        AtspiHypertext* links = byChild ? nullptr : atspi_accessible_get_hypertext_iface(node);
        size_t index = 0;
        for (size_t at = text.find(kObjectReplacement); at != std::string_view::npos;
             at = text.find(kObjectReplacement)) {
            append(text.substr(0, at));
            text.remove_prefix(at + kObjectReplacement.size());
            if (depth < kMaxEmbedding && !spent()) {
                if (index == asked && asked < answers.size()) {
                    asked = std::min(answers.size(), asked + kLinesAskedTogether);
                    askAll(*lines_, *listed, index, asked, answers, msLeft());
                }
                if (index < answers.size() && answers[index].complete()) appendAnswered(answers[index]);
                else if (byChild) appendChild(node, static_cast<int>(index), depth + 1);
                else if (links) appendLink(links, static_cast<int>(index), depth + 1);
            }
            ++index;
        }
        append(text);
        if (links) g_object_unref(links);
    }

    void appendLink(AtspiHypertext* links, int index, int depth) {
        GError* error = nullptr;
        AtspiHyperlink* link = atspi_hypertext_get_link(links, index, &error);
        if (lost(error) || !link) return;
        auto object = own(atspi_hyperlink_get_object(link, 0, &error));
        g_object_unref(link);
        if (lost(error) || !object) return;
        appendObject(object.get(), depth);
    }

    void appendChild(AtspiAccessible* node, int index, int depth) {
        GError* error = nullptr;
        auto child = own(atspi_accessible_get_child_at_index(node, index, &error));
        if (lost(error) || !child) return;
        appendObject(child.get(), depth);
    }

    // An object whose answers came with its siblings': the same as reading it alone.
    void appendAnswered(const Answers& answers) {
        bool block = isBlock(answers.role, [&] { return answers.display; });
        if (block) startLine();
        characters_ += static_cast<size_t>(g_utf8_strlen(answers.text->data(), static_cast<gssize>(answers.text->size())));
        append(*answers.text);
        if (block) lineBreakDue_ = true;
    }

    void appendObject(AtspiAccessible* object, int depth) {
        bool block = isBlock(roleOf(object), [&] { return objectAttribute(object, "display"); });
        if (block) startLine();
        if (!appendText(object, depth) && !appendChildren(object, depth)) {
            // An image stands for its alternative text (an emoji, a custom emoji's name).
            gchar* name = atspi_accessible_get_name(object, nullptr);
            append(cleanText(name));
            g_free(name);
        }
        if (block) lineBreakDue_ = true;
    }

    // An element without Text: its children, each on its own line when it is a block.
    bool appendChildren(AtspiAccessible* node, int depth) {
        GError* error = nullptr;
        gint count = atspi_accessible_get_child_count(node, &error);
        if (lost(error) || count <= 0 || depth >= kMaxEmbedding) return false;
        for (gint i = 0; i < count && !spent(); ++i) appendChild(node, i, depth + 1);
        return true;
    }

    static bool isBlock(std::optional<AtspiRole> role, const std::function<std::optional<std::string>()>& display) {
        if (!role) return false;
        switch (*role) {
        case ATSPI_ROLE_PARAGRAPH:
        case ATSPI_ROLE_HEADING:
        case ATSPI_ROLE_LIST:
        case ATSPI_ROLE_LIST_ITEM:
        case ATSPI_ROLE_BLOCK_QUOTE:
        case ATSPI_ROLE_TABLE:
        case ATSPI_ROLE_TABLE_ROW:
        case ATSPI_ROLE_ARTICLE:
        case ATSPI_ROLE_FORM:
            return true;
        case ATSPI_ROLE_SECTION:
        case ATSPI_ROLE_PANEL: {
            // A generic container is a block unless it is laid out inline (a mention, a span).
            auto layout = display();
            return !layout || !layout->starts_with("inline");
        }
        default:
            return false;
        }
    }

    // What is left of the read's time, for a call's own bound.
    int msLeft() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
        return std::max(1, static_cast<int>(left.count()));
    }

    LineQuestions* lines_;
    std::chrono::steady_clock::time_point deadline_;
    std::string out_;
    size_t characters_ = 0;
    bool complete_ = true;
    bool lineBreakDue_ = false;
};
}  // namespace

std::optional<TextRead> readDraft(AtspiAccessible* box, LineQuestions* lines) { return DraftReader(lines).read(box); }

}  // namespace desktop::x11
