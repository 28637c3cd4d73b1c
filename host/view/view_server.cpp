#include "host/view/view_server.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <stdexcept>
#include <unordered_map>

#include "byte_order.h"
#include "host/formats/picture_io.h"
#include "host/formats/picture_scaling.h"
#include "host/host_error.h"
#include "host/plugins/archive_members.h"
#include "host/view/http_server.h"
#include "host/view/page_files.h"
#include "image/gp8_format.h"
#include "host/view/lru_cache.h"

namespace {

using Json = nlohmann::json;

constexpr char kLoopback[] = "127.0.0.1";
constexpr std::size_t kPictureHeaderBytes = 16;  // width, height, depth, colours
constexpr std::size_t kPaletteBytes = 3 * kMaxPaletteSize;
// Archives opened inside others are kept for the requests that follow (a
// grid's thumbnails) within this many bytes.
constexpr std::size_t kNestedBudget = std::size_t{64} << 20;
// Deeper than any archive packed on purpose; an archive whose member is the
// archive itself nests without end, and stops here.
constexpr std::size_t kMaxNestingDepth = 16;

// A request that cannot be answered as asked, with the status and the
// reason the page shows.
// `picture` holds what is known of a picture that cannot be shown, for the
// page to show beside the reason.
struct Refusal : std::runtime_error {
  Refusal(int code, const std::string& reason, nlohmann::json known = nullptr)
      : std::runtime_error(reason), status(code), picture(std::move(known)) {}
  int status;
  nlohmann::json picture;
};

// What a picture whose pixels cannot be had still tells: its geometry, from
// GetPictureInfo, and for a GP8 picture the palette that its header holds
// (no export gives a palette without the pixels, and a modder wants it most
// when the pixels are damaged).
nlohmann::json KnownOfPicture(const Plugin& image, const PictureInfoRecord& info,
                              std::span<const unsigned char> bytes) {
  nlohmann::json known = {{"width", std::llabs(info.width)},
                          {"height", std::llabs(info.height)},
                          {"depth", info.bits_per_pixel}};
  if (image.information()[kPatternIndex] == "*.GP8" && bytes.size() >= kPixelStreamOffset) {
    std::string palette;
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::uint32_t i = 0; i < kPaletteEntryCount; ++i) {
      const unsigned char* entry = bytes.data() + kPaletteOffset + i * kPaletteEntrySize;
      for (const std::uint32_t byte : {kRedByte, kGreenByte, kBlueByte}) {
        palette += kHex[entry[byte] >> 4];
        palette += kHex[entry[byte] & 0xF];
      }
    }
    known["palette"] = palette;  // RGB, two hex digits each, entry after entry
  }
  return known;
}

std::string StemOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Content-Disposition for a download: a plain ASCII name for old clients and
// the UTF-8 name for the rest. The quoted name holds printable ASCII alone:
// control bytes (DEL among them), quotes, backslashes and the bytes of other
// characters become '_'.
std::string AttachmentHeader(const std::string& name) {
  std::string ascii;
  std::string encoded;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = std::isalnum(byte) || byte == '.' || byte == '-' || byte == '_';
    ascii += byte < 0x7F && byte >= 0x20 && c != '"' && c != '\\' ? c : '_';
    if (plain) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0xF];
    }
  }
  return "attachment; filename=\"" + ascii + "\"; filename*=UTF-8''" + encoded;
}

// Compares without stopping at the first difference, so that the time taken
// does not tell how much of a guess was right.
bool SameToken(const std::string& given, const std::string& token) {
  if (given.size() != token.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < token.size(); ++i)
    difference |= static_cast<unsigned char>(given[i] ^ token[i]);
  return difference == 0;
}

}  // namespace

struct ViewServer::State {
  const PluginSet& plugins;
  // Each input as last read; one changed on disk is read again and put in
  // its place, keeping its number, while requests in flight keep the one
  // they found.
  std::vector<std::shared_ptr<const ViewInput>> inputs;
  mutable std::mutex inputs_lock;
  std::atomic<std::uint64_t> generation{0};  // inputs read again so far
  ViewOptions options;
  std::string token;
  int port = 0;
  std::unique_ptr<HttpServer> server;
  LruCache<Bytes> thumbnails;
  // The archive plug-in keeps what IsSupported decided and what it last
  // looked up in process-wide variables: one recognition and the listing or
  // extraction that relies on it run under this lock, never interleaved
  // with another request's.
  std::mutex archive_lock;
  // Why a member's thumbnail could not be made, so that asking again (as
  // the page does to show the reason) decodes nothing. At most one entry a
  // member.
  std::mutex failures_lock;
  std::unordered_map<std::string, Refusal> failed_thumbnails;

  State(const PluginSet& set, std::vector<ViewInput> given, ViewOptions chosen, std::string key)
      : plugins(set),
        inputs(Shared(std::move(given))),
        options(chosen),
        token(std::move(key)),
        thumbnails(chosen.thumbnail_budget) {}

  static std::vector<std::shared_ptr<const ViewInput>> Shared(std::vector<ViewInput> given) {
    std::vector<std::shared_ptr<const ViewInput>> shared;
    for (ViewInput& input : given) shared.push_back(std::make_shared<const ViewInput>(std::move(input)));
    return shared;
  }

  std::shared_ptr<const ViewInput> InputAt(std::size_t i) const {
    const std::lock_guard lock(inputs_lock);
    return inputs[i];
  }

  // Reads the input again when its file changed on disk since it was read;
  // true when it did.
  bool ReadAgainIfChanged(std::size_t i) {
    const std::shared_ptr<const ViewInput> old = InputAt(i);
    if (!ChangedOnDisk(*old)) return false;
    const std::lock_guard archive(archive_lock);
    auto again = std::make_shared<const ViewInput>(ReadInputAgain(plugins, *old));
    const std::lock_guard lock(inputs_lock);
    if (inputs[i] == old) {
      inputs[i] = std::move(again);
      ++generation;
    }
    return true;
  }

  void ReadAgainWhatChanged() {
    for (std::size_t i = 0; i < inputs.size(); ++i) ReadAgainIfChanged(i);
  }

  // The page holds the token and sends it with each request in a header;
  // links it cannot give a header (downloads) carry it in the query. Never
  // a cookie: the browser would give that to a page on any other port.
  bool Authorised(const HttpRequest& request) const {
    if (request.HasParam("t")) return SameToken(request.Param("t"), token);
    return SameToken(request.Header("x-vyn-token"), token);
  }

  // Only the names this server is reached by: a page that a rebound DNS
  // name brought here says its own name.
  bool HostIsOurs(const HttpRequest& request) const {
    const std::string host = request.Header("host");
    const std::string suffix = ":" + std::to_string(port);
    return host == kLoopback + suffix || host == "localhost" + suffix;
  }

  // An archive opened inside another: its bytes as the archive plug-in
  // delivered them, and its members.
  struct NestedArchive {
    const Plugin* plugin = nullptr;  // the archive plug-in that recognised it
    std::unique_ptr<ReceivedBlock> image;
    std::vector<ViewMember> members;
  };
  LruCache<NestedArchive> nested{kNestedBudget};

  // What a request's path numbers: an input, and the member numbers that
  // lead from it through archives inside it to a member. `member` is null
  // for a picture file; `within` is the archive in memory the member is in,
  // null for a member of an input archive.
  struct Target {
    std::shared_ptr<const ViewInput> input;
    const ViewMember* member = nullptr;
    std::shared_ptr<const NestedArchive> within;
    std::string key;  // the numbers, as "input/member/member..."
  };
  Target Find(const HttpRequest& request) {
    const auto number = [](const std::string& text, std::size_t limit) -> std::size_t {
      if (text.empty() || text.size() > 9) return limit;
      const std::size_t value = std::stoul(text);
      return value < limit ? value : limit;
    };
    const std::size_t i = number(request.matches[1], inputs.size());
    if (i == inputs.size()) throw Refusal{404, "there is no such input"};
    // A listing read before a change names members by numbers that may no
    // longer hold: the page is told, and asks for the new listing.
    if (ReadAgainIfChanged(i))
      throw Refusal{409, BaseName(InputAt(i)->display_name) +
                             " changed on disk and has been read again; choose from its new listing"};
    Target target{InputAt(i), nullptr, nullptr, std::to_string(i)};
    // Kept things are known by the input's reading too.
    const std::string reading = "." + std::to_string(target.input->generation);
    std::vector<std::string> chain;
    const std::string& path = request.matches[2];
    for (std::size_t at = 0; at < path.size();) {
      const std::size_t next = std::min(path.find('/', at + 1), path.size());
      chain.push_back(path.substr(at + 1, next - at - 1));
      at = next;
    }
    if (!target.input->error.empty()) throw Refusal{422, target.input->error};
    if (target.input->kind != ViewInput::Kind::kArchive) {
      if (!chain.empty()) throw Refusal{404, "a picture has no members"};
      target.key += reading;
      return target;
    }
    if (chain.empty()) throw Refusal{404, "an archive has members; name one by its number"};
    for (std::size_t level = 0; level < chain.size(); ++level) {
      if (level > 0) target.within = OpenNested(target, level);
      const std::vector<ViewMember>& members =
          target.within != nullptr ? target.within->members : target.input->members;
      const std::size_t m = number(chain[level], members.size());
      if (m == members.size()) throw Refusal{404, "the archive has no such member"};
      target.member = &members[m];
      target.key += (level == 0 ? reading : "") + "/" + std::to_string(m);
    }
    return target;
  }

  // The archive that the target's member is, opened as a folder: listed
  // from its bytes in memory, kept for the next request. `level` is how
  // many archives deep it lies.
  std::shared_ptr<const NestedArchive> OpenNested(const Target& target, std::size_t level) {
    if (auto found = nested.Find(target.key)) return found;
    const std::string name = NameOf(target);
    if (!target.member->archive) throw Refusal{404, name + " is not an archive"};
    if (level > kMaxNestingDepth)
      throw Refusal{422, name + " lies more than " + std::to_string(kMaxNestingDepth) +
                             " archives deep; archives nested deeper are not opened"};
    if (target.member->member.size > options.max_nested_bytes)
      throw Refusal{413, name + " is an archive of " + std::to_string(target.member->member.size) +
                             " bytes, more than the " + std::to_string(options.max_nested_bytes) +
                             " this viewer opens inside another archive"};
    Held held = BytesOf(target);
    auto opened = std::make_shared<NestedArchive>();
    {
      const std::lock_guard lock(archive_lock);
      const std::span<const unsigned char> bytes = held.bytes();
      const Plugin* plugin = plugins.Recognise(name, ContentHead(bytes), PluginKind::kArchive);
      if (plugin == nullptr)
        throw Refusal{422, name + " is not an archive that an archive plug-in recognises"};
      opened->plugin = plugin;
      try {
        opened->members = ListArchiveImage(plugins, *plugin, bytes, name);
      } catch (const HostError& error) {
        throw Refusal{422, error.what()};
      }
    }
    opened->image = std::move(held.block);
    const std::size_t size = opened->image->size() + opened->members.size() * sizeof(ViewMember);
    nested.Put(target.key, opened, size);
    return opened;
  }

  std::string NameOf(const Target& target) const {
    return target.member != nullptr ? target.member->display_name
                                    : BaseName(target.input->display_name);
  }

  // The target's bytes: a member taken out of its archive into memory, in
  // the block the archive plug-in delivered, or the picture file.
  struct Held {
    Bytes file;
    std::unique_ptr<ReceivedBlock> block;
    std::span<const unsigned char> bytes() const {
      return block != nullptr ? block->bytes() : std::span<const unsigned char>(file);
    }
  };
  Held BytesOf(const Target& target) {
    Held held;
    try {
      if (target.member == nullptr) {
        held.file = ReadWholeFile(target.input->path);
        return held;
      }
      const std::lock_guard lock(archive_lock);
      if (target.within != nullptr) {
        // Within an archive in memory: the listed extent handed to GetFile
        // as memory input, as for a member of a file.
        const std::span<const unsigned char> image = target.within->image->bytes();
        const ArchiveMember& member = target.member->member;
        if (member.position > image.size() || member.size > image.size() - member.position)
          throw Refusal{422, NameOf(target) + " runs past the end of the archive it is in"};
        held.block =
            target.within->plugin->ExtractFromImage(image.subspan(member.position, member.size));
        if (held.block == nullptr || held.block->size() != member.size)
          throw Refusal{422, "the archive plug-in could not extract " + NameOf(target)};
        return held;
      }
      const Bytes head = ReadHead(target.input->path, kHeadSize);
      if (!target.input->plugin->Recognises(target.input->path, head))
        throw Refusal{422, "the archive plug-in no longer recognises " + target.input->path};
      held.block = TakeMember(*target.input->plugin, target.input->path, target.member->member,
                              target.member->display_name);
    } catch (const HostError& error) {
      throw Refusal{422, error.what()};
    }
    return held;
  }

  IndexedPicture Decode(const Target& target, std::uint16_t& depth) {
    const Held held = BytesOf(target);
    const std::span<const unsigned char> bytes = held.bytes();
    const std::string name = NameOf(target);
    const Plugin* image = plugins.Recognise(name, ContentHead(bytes), PluginKind::kImage);
    if (image == nullptr)
      throw Refusal{422, name + " is not a picture that the image plug-in recognises"};
    std::optional<PictureInfoRecord> info_known;
    try {
      const PictureInfoRecord info = image->PictureInfoInMemory(bytes);
      info_known = info;
      const std::uint64_t width = static_cast<std::uint64_t>(std::llabs(info.width));
      const std::uint64_t height = static_cast<std::uint64_t>(std::llabs(info.height));
      const std::uint64_t block = (width + 3) / 4 * 4 * height;
      if (block > options.max_pixels)
        throw Refusal{413,
                      name + " is " + std::to_string(width) + "x" + std::to_string(height) +
                          ", a pixel block of " + std::to_string(block) + " bytes, more than the " +
                          std::to_string(options.max_pixels) + " this viewer decodes (--max-pixels)",
                      KnownOfPicture(*image, info, bytes)};
      depth = info.bits_per_pixel;
      const DeliveredPicture delivered = image->PictureInMemory(bytes);
      return PictureFromDib(delivered.header, delivered.pixels);
    } catch (const HostError& error) {
      throw Refusal{422, name + ": " + error.what(),
                    info_known ? KnownOfPicture(*image, *info_known, bytes) : nullptr};
    }
  }

  static Json MembersJson(const std::vector<ViewMember>& listed) {
    Json members = Json::array();
    for (std::size_t m = 0; m < listed.size(); ++m) {
      const ViewMember& member = listed[m];
      Json entry = {{"id", m},
                    {"name", member.display_name},
                    {"size", member.member.size},
                    {"picture", member.picture}};
      if (member.archive) entry["archive"] = true;
      members.push_back(std::move(entry));
    }
    return members;
  }

  Json Listing() const {
    Json list = Json::array();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      const std::shared_ptr<const ViewInput> held = InputAt(i);
      const ViewInput& input = *held;
      Json entry = {{"id", i},
                    {"name", input.display_name},
                    {"size", input.size},
                    {"format", input.plugin->format_name()},
                    {"kind", input.kind == ViewInput::Kind::kArchive ? "archive" : "picture"}};
      if (input.kind == ViewInput::Kind::kArchive) entry["members"] = MembersJson(input.members);
      if (input.generation != 0) entry["generation"] = input.generation;
      if (!input.error.empty()) entry["error"] = input.error;
      list.push_back(std::move(entry));
    }
    return list;
  }

  // ---- Routes: each answers one kind of request, or throws a Refusal.

  void ServePage(const HttpRequest& request, HttpResponse& response) {
    const std::string name = request.matches[1].empty() ? "index.html" : request.matches[1];
    const PageFile* file = FindPageFile(name);
    if (file == nullptr) throw Refusal{404, "there is nothing here"};
    response.SetHeader("Content-Security-Policy",
                       "default-src 'self'; img-src 'self' blob: data:; "
                       "style-src 'self'; script-src 'self'; object-src 'none'; "
                       "frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
    Reply(response, std::string(reinterpret_cast<const char*>(file->bytes), file->size),
          file->content_type);
  }

  // How many times inputs have been read again, and each input's count:
  // asked for now and then by the page, which reads the listing again when
  // it changed.
  void ServeGeneration(const HttpRequest&, HttpResponse& response) {
    ReadAgainWhatChanged();
    Json each = Json::array();
    for (std::size_t i = 0; i < inputs.size(); ++i) each.push_back(InputAt(i)->generation);
    Reply(response, Json{{"generation", generation.load()}, {"inputs", each}}.dump(),
          "application/json");
  }

  void ServeInputs(const HttpRequest&, HttpResponse& response) {
    ReadAgainWhatChanged();
    Reply(response, Listing().dump(-1, ' ', false, Json::error_handler_t::replace),
          "application/json");
  }

  // The members of an archive inside an archive, listed as the input
  // archives' members are.
  void ServeMembers(const HttpRequest& request, HttpResponse& response) {
    Target target = Find(request);
    const std::size_t level = static_cast<std::size_t>(
        std::count(target.key.begin(), target.key.end(), '/'));
    const auto opened = OpenNested(target, level);
    Reply(response,
          Json{{"members", MembersJson(opened->members)}}.dump(-1, ' ', false,
                                                             Json::error_handler_t::replace),
          "application/json");
  }

  // Width, height, depth and palette size, the palette as 256 RGB triples,
  // then one index a pixel, top row first.
  void ServePicture(const HttpRequest& request, HttpResponse& response) {
    std::uint16_t depth = 0;
    const IndexedPicture picture = Decode(Find(request), depth);
    std::string body(kPictureHeaderBytes + kPaletteBytes, '\0');
    auto* head = reinterpret_cast<unsigned char*>(body.data());
    WriteLe32(head, picture.width);
    WriteLe32(head + 4, picture.height);
    WriteLe32(head + 8, depth);
    WriteLe32(head + 12, static_cast<std::uint32_t>(picture.palette.size()));
    for (std::size_t i = 0; i < picture.palette.size() && i < kMaxPaletteSize; ++i) {
      head[kPictureHeaderBytes + 3 * i] = picture.palette[i].red;
      head[kPictureHeaderBytes + 3 * i + 1] = picture.palette[i].green;
      head[kPictureHeaderBytes + 3 * i + 2] = picture.palette[i].blue;
    }
    body.append(reinterpret_cast<const char*>(picture.pixels.data()), picture.pixels.size());
    Reply(response, std::move(body), "application/octet-stream");
  }

  void ServeThumbnail(const HttpRequest& request, HttpResponse& response) {
    const Target target = Find(request);
    const std::string& key = target.key;
    {
      const std::lock_guard lock(failures_lock);
      const auto failed = failed_thumbnails.find(key);
      if (failed != failed_thumbnails.end()) throw failed->second;
    }
    std::shared_ptr<const Bytes> png = thumbnails.Find(key);
    if (png == nullptr) {
      std::uint16_t depth = 0;
      try {
        png = std::make_shared<const Bytes>(EncodePicture(
            ShrinkPicture(Decode(target, depth), options.thumbnail_size), PictureFileType::kPng));
      } catch (const Refusal& refusal) {
        const std::lock_guard lock(failures_lock);
        failed_thumbnails.emplace(key, refusal);
        throw;
      }
      thumbnails.Put(key, png, png->size());
    }
    response.SetHeader("Cache-Control", "private, max-age=300");
    Reply(response, std::string(png->begin(), png->end()), "image/png");
  }

  // The member's or file's bytes as stored, or the picture as PNG or BMP.
  void ServeDownload(const HttpRequest& request, HttpResponse& response) {
    const Target target = Find(request);
    const std::string& form = request.matches[3];
    const std::string name = NameOf(target);
    if (form == "original") {
      const Held held = BytesOf(target);
      const std::span<const unsigned char> bytes = held.bytes();
      response.SetHeader("Content-Disposition", AttachmentHeader(name));
      response.ranges = true;
      Reply(response, std::string(bytes.begin(), bytes.end()), "application/octet-stream");
      return;
    }
    std::uint16_t depth = 0;
    const IndexedPicture picture = Decode(target, depth);
    const bool png = form == "png";
    const Bytes file = EncodePicture(picture, png ? PictureFileType::kPng : PictureFileType::kBmp);
    response.SetHeader("Content-Disposition",
                       AttachmentHeader(StemOf(name) + (png ? ".png" : ".bmp")));
    response.ranges = true;
    Reply(response, std::string(file.begin(), file.end()), png ? "image/png" : "image/bmp");
  }

  static void Reply(HttpResponse& response, std::string body, const std::string& type) {
    response.body = std::move(body);
    response.content_type = type;
  }

  // Every refusal, whichever layer makes it, reaches the page the same way:
  // its status and a JSON body with the reason.
  static void AnswerError(HttpResponse& response, int status, const std::string& reason,
                          const Json& picture = nullptr) {
    response.status = status;
    Json body = {{"error", reason}};
    if (!picture.is_null()) body["picture"] = picture;
    Reply(response, body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
  }

  struct Route {
    std::regex pattern;
    void (State::*handler)(const HttpRequest&, HttpResponse&);
    bool needs_token;  // the page's own files hold nothing of the inputs
  };
  std::vector<Route> routes = {
      {std::regex(R"(/|/([A-Za-z0-9_.-]+\.(?:html|css|js)))"), &State::ServePage, false},
      {std::regex("/api/inputs"), &State::ServeInputs, true},
      {std::regex("/api/generation"), &State::ServeGeneration, true},
      {std::regex(R"(/api/members/(\d+)((?:/\d+)+))"), &State::ServeMembers, true},
      {std::regex(R"(/api/picture/(\d+)((?:/\d+)*))"), &State::ServePicture, true},
      {std::regex(R"(/api/thumb/(\d+)((?:/\d+)*))"), &State::ServeThumbnail, true},
      {std::regex(R"(/download/(\d+)((?:/\d+)*)/(original|png|bmp))"), &State::ServeDownload, true},
  };

  void Dispatch(const HttpRequest& asked, HttpResponse& response) {
    response.SetHeader("Cache-Control", "no-store");
    response.SetHeader("X-Content-Type-Options", "nosniff");
    response.SetHeader("Referrer-Policy", "no-referrer");
    response.SetHeader("X-Frame-Options", "DENY");
    try {
      if (!HostIsOurs(asked))
        throw Refusal{403, "this viewer answers only to 127.0.0.1:" + std::to_string(port) +
                               " and localhost:" + std::to_string(port)};
      for (const Route& route : routes) {
        std::smatch found;
        if (!std::regex_match(asked.path, found, route.pattern)) continue;
        if (route.needs_token && !Authorised(asked))
          throw Refusal{403, "this address needs the access token that vyn view printed"};
        HttpRequest request = asked;
        for (std::size_t i = 0; i < found.size(); ++i) request.matches.push_back(found[i].str());
        (this->*route.handler)(request, response);
        return;
      }
      throw Refusal{Authorised(asked) ? 404 : 403, Authorised(asked)
                                                       ? "there is nothing here"
                                                       : "this address needs the access token "
                                                         "that vyn view printed"};
    } catch (const Refusal& refusal) {
      AnswerError(response, refusal.status, refusal.what(), refusal.picture);
    } catch (const std::bad_alloc&) {
      AnswerError(response, 500, "out of memory");
    } catch (const std::exception& error) {
      AnswerError(response, 500, error.what());
    }
  }
};

ViewServer::ViewServer(const PluginSet& plugins, std::vector<ViewInput> inputs, ViewOptions options,
                       std::string token)
    : state_(std::make_unique<State>(plugins, std::move(inputs), options, std::move(token))) {
  state_->server = std::make_unique<HttpServer>(
      HttpLimits{}, [state = state_.get()](const HttpRequest& request, HttpResponse& response) {
        state->Dispatch(request, response);
      });
}

ViewServer::~ViewServer() = default;

int ViewServer::Bind(int port) {
  const int bound = state_->server->Bind(kLoopback, port);
  if (bound <= 0)
    throw HostError(port == 0 ? std::string("cannot listen on any port of 127.0.0.1")
                              : "cannot listen on 127.0.0.1 port " + std::to_string(port) +
                                    " (in use, or not allowed)");
  state_->port = bound;
  return bound;
}

void ViewServer::Serve() { state_->server->Serve(); }

void ViewServer::Stop() { state_->server->Stop(); }

std::string MakeAccessToken() {
  std::random_device source;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t bits = source();
    for (int shift = 0; shift < 32; shift += 4) token += kHex[(bits >> shift) & 0xF];
  }
  return token;
}
