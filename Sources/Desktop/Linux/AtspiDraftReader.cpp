#include "Desktop/Linux/AtspiDraftReader.h"

#include <chrono>

#include "Desktop/Linux/AtspiNodes.h"

namespace desktop::x11 {

using namespace atspi;

namespace {
// The nesting of embedded objects in a draft stops at this depth.
constexpr int kMaxEmbedding = 16;
// A long text comes in pieces of this many characters, each one bounded bus call.
constexpr int kReadChunk = 1 << 16;
constexpr std::string_view kObjectReplacement = "\xEF\xBF\xBC";

// Reads a draft as its app will send it, within the limits of characters and time.
class DraftReader {
public:
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
        GError* error = nullptr;
        gint children = atspi_accessible_get_child_count(node, &error);
        bool byChild = !lost(error) && children == static_cast<gint>(objects);
        AtspiHypertext* links = byChild ? nullptr : atspi_accessible_get_hypertext_iface(node);
        int index = 0;
        for (size_t at = text.find(kObjectReplacement); at != std::string_view::npos;
             at = text.find(kObjectReplacement)) {
            append(text.substr(0, at));
            text.remove_prefix(at + kObjectReplacement.size());
            if (depth < kMaxEmbedding && !spent()) {
                if (byChild) appendChild(node, index, depth + 1);
                else if (links) appendLink(links, index, depth + 1);
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

    void appendObject(AtspiAccessible* object, int depth) {
        bool block = isBlock(object);
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

    static bool isBlock(AtspiAccessible* object) {
        auto role = roleOf(object);
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
            auto display = objectAttribute(object, "display");
            return !display || !display->starts_with("inline");
        }
        default:
            return false;
        }
    }

    std::chrono::steady_clock::time_point deadline_;
    std::string out_;
    size_t characters_ = 0;
    bool complete_ = true;
    bool lineBreakDue_ = false;
};
}  // namespace

std::optional<TextRead> readDraft(AtspiAccessible* box) { return DraftReader().read(box); }

}  // namespace desktop::x11
