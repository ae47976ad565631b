#include "tools/docvert/mht_archive.h"

#include <gmime/gmime.h>

#include <mutex>

namespace docvert {
namespace {

// Owns one reference to a GObject.
template <typename T>
class GRef {
public:
    explicit GRef(T* object) : m_object(object) {}
    ~GRef()
    {
        if (m_object != nullptr) {
            g_object_unref(m_object);
        }
    }
    GRef(const GRef&) = delete;
    GRef& operator=(const GRef&) = delete;
    T* get() const { return m_object; }

private:
    T* m_object;
};

template <typename T>
bool IsA(T* object, GType type)
{
    return object != nullptr &&
           g_type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(object), type) != FALSE;
}

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

std::string StripAngles(std::string id)
{
    const std::size_t first = id.find_first_not_of(" \t<");
    const std::size_t last = id.find_last_not_of(" \t>");
    return first == std::string::npos ? std::string() : id.substr(first, last - first + 1);
}

struct Collector {
    std::vector<MhtPart> parts;
    std::string start;
    bool sawRelated = false;
};

MhtPart ReadPart(GMimePart* part)
{
    MhtPart result;
    GMimeObject* object = reinterpret_cast<GMimeObject*>(part);
    GMimeContentType* type = g_mime_object_get_content_type(object);
    if (type != nullptr) {
        char* mimeType = g_mime_content_type_get_mime_type(type);
        result.mimeType = Text(mimeType);
        g_free(mimeType);
        for (char& c : result.mimeType) {
            c = static_cast<char>(g_ascii_tolower(c));
        }
        result.charset = Text(g_mime_content_type_get_parameter(type, "charset"));
    }
    result.contentId = StripAngles(Text(g_mime_object_get_content_id(object)));
    result.location = Text(g_mime_part_get_content_location(part));
    if (GMimeDataWrapper* content = g_mime_part_get_content(part); content != nullptr) {
        GRef<GMimeStream> memory(g_mime_stream_mem_new());
        if (g_mime_data_wrapper_write_to_stream(content, memory.get()) >= 0) {
            GByteArray* bytes = g_mime_stream_mem_get_byte_array(reinterpret_cast<GMimeStreamMem*>(memory.get()));
            result.body.assign(reinterpret_cast<const char*>(bytes->data), bytes->len);
        }
    }
    return result;
}

void CollectPart(GMimeObject* /*parent*/, GMimeObject* object, gpointer data)
{
    Collector& collector = *static_cast<Collector*>(data);
    if (IsA(object, g_mime_multipart_get_type())) {
        GMimeContentType* type = g_mime_object_get_content_type(object);
        if (!collector.sawRelated && type != nullptr && g_mime_content_type_is_type(type, "multipart", "related")) {
            collector.sawRelated = true;
            collector.start = StripAngles(Text(g_mime_content_type_get_parameter(type, "start")));
        }
        return;
    }
    if (IsA(object, g_mime_part_get_type())) {
        collector.parts.push_back(ReadPart(reinterpret_cast<GMimePart*>(object)));
    }
}

std::optional<std::size_t> ChooseRoot(const Collector& collector)
{
    if (!collector.start.empty()) {
        for (std::size_t i = 0; i < collector.parts.size(); ++i) {
            if (collector.parts[i].contentId == collector.start) {
                return i;
            }
        }
    }
    for (std::size_t i = 0; i < collector.parts.size(); ++i) {
        if (collector.parts[i].mimeType == "text/html") {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<MhtArchive> ReadMhtArchive(std::string_view bytes)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { g_mime_init(); });

    // Some writers put a byte-order mark or blank lines before the headers.
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    while (!bytes.empty() && (bytes.front() == '\r' || bytes.front() == '\n')) {
        bytes.remove_prefix(1);
    }
    GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
    GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GRef<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (message.get() == nullptr) {
        return std::nullopt;
    }
    Collector collector;
    g_mime_message_foreach(message.get(), CollectPart, &collector);
    const std::optional<std::size_t> root = ChooseRoot(collector);
    if (!root) {
        return std::nullopt;
    }
    MhtArchive archive;
    archive.parts = std::move(collector.parts);
    archive.root = *root;
    return archive;
}

}  // namespace docvert
