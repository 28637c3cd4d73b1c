// vyn test: reads every member of an archive through the archive plug-in and
// decodes every picture through the image plug-in, as unzip -t does for zip
// files, and names each damaged one with its reason. Nothing is written.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <new>

#include "host/cli/batch.h"
#include "host/cli/command_support.h"
#include "host/cli/progress.h"
#include "host/cli/text_output.h"
#include "host/files/member_names.h"
#include "host/files/name_encoding.h"
#include "host/formats/picture_io.h"
#include "host/host_error.h"
#include "host/plugins/archive_members.h"

namespace {

// A picture in memory decoded through the image plug-in and its DIB read
// back as vyn reads it to convert it. Throws HostError with the reason.
void DecodeInMemory(const Plugin& image, std::span<const unsigned char> picture) {
  try {
    const DeliveredPicture delivered = image.PictureInMemory(picture);
    PictureFromDib(delivered.header, delivered.pixels);
  } catch (const std::bad_alloc&) {
    throw HostError("out of memory");
  }
}

// What one input held, and how much of it was damaged.
struct Tested {
  std::size_t members = 0;
  std::size_t pictures = 0;
  std::size_t damaged = 0;
};

Tested TestArchive(const PluginSet& set, const Plugin& plugin, const std::string& archive,
                   const NameEncoding& encoding) {
  Tested tested;
  const std::vector<ArchiveMember> members = plugin.List(archive);
  const std::uint64_t archive_size = RegularFileSize(archive);
  MemberReader reader(plugin, archive);
  std::uint64_t total = 0;
  for (const ArchiveMember& member : members) total += member.size;
  ProgressBar progress(total, members.size(), "members of " + BaseName(archive));
  std::uint64_t done = 0;
  for (std::size_t i = 0; i < members.size(); ++i) {
    const ArchiveMember& member = members[i];
    const std::string shown = ShownName(encoding.Decode(member.name));
    try {
      if (std::uint64_t{member.position} + member.size > archive_size)
        throw HostError(FileMessage(archive, shown + ": runs past the end of the archive"));
      // A member of one piece is read once; a larger one a piece at a
      // time, and again whole only when its head shows a picture.
      std::unique_ptr<ReceivedBlock> block;
      Bytes head;
      if (member.size <= kMemberPieceSize) {
        block = reader.TakeWhole(member, shown);
        head = ContentHead(block->bytes());
      } else {
        std::uint64_t got = 0;
        reader.Take(member, shown, [&](std::span<const unsigned char> piece) {
          if (got == 0) head = ContentHead(piece);
          got += piece.size();
          progress.Update(done + got, i);
        });
      }
      const Plugin* image = set.Recognise(shown, head, PluginKind::kImage);
      if (image != nullptr) {
        ++tested.pictures;
        if (block == nullptr) block = reader.TakeWhole(member, shown);
        try {
          DecodeInMemory(*image, block->bytes());
        } catch (const HostError& error) {
          throw HostError(FileMessage(archive, shown + ": " + error.what()));
        }
      }
    } catch (const HostError& error) {
      progress.Finish();
      Complain(error.what());
      ++tested.damaged;
    }
    ++tested.members;
    done += member.size;
    progress.Update(done, i + 1);
  }
  progress.Finish();
  return tested;
}

}  // namespace

CommandRun DeclareTest(CLI::App& command) {
  auto options = std::make_shared<TestOptions>();
  options->encoding = NameEncoding::kDefault;
  command.add_option("FILE", options->files, "Archives and pictures to test, and directories")
      ->required();
  AddRecursiveOption(command, options->recursive);
  AddEncodingOption(command, options->encoding);
  command.footer(R"(Every member of an archive is read through the archive plug-in's GetFile, each with its listed
size, and every member the image plug-in recognises is decoded through GetPicture; a picture
file is decoded the same way. Each damaged member or picture is named on standard error with
its reason, and each file gets one line, for example:
  a.ARC: 30 members, 5 pictures: no damage found
  b.ARC: 12 members, 2 pictures: 1 damaged
Nothing is written. The exit status is 1 when anything was damaged or could not be read.)");
  return [options](const CommandContext& context) { return RunTest(context, *options); };
}

int RunTest(const CommandContext& context, const TestOptions& options) {
  const NameEncoding encoding(options.encoding);
  const PluginSet set = PluginsFor(context);
  if (set.plugins.empty()) throw HostError(FileMessage(set.directory, "holds no plug-ins"));
  int status = 0;
  const std::vector<BatchFile> files =
      BatchFiles(options.files, options.recursive, [&](const std::string& message) {
        Complain(message);
        status = 1;
      });
  std::size_t tested_files = 0;
  std::size_t failed = 0;
  for (const BatchFile& file : files) {
    const std::string& path = file.path;
    try {
      const Plugin* plugin = set.Recognise(path, ReadHead(path, kHeadSize));
      if (plugin == nullptr && !file.named) continue;  // not what a directory was given for
      ++tested_files;
      if (plugin == nullptr) throw HostError(FileMessage(path, "not recognised by any plug-in"));
      if (plugin->kind() == PluginKind::kArchive) {
        // Straight after the recognition: the listing reads the directory
        // as that recognition decided.
        const Tested tested = TestArchive(set, *plugin, path, encoding);
        std::cout << path << ": " << Counted(tested.members, "member") << ", "
                  << Counted(tested.pictures, "picture") << ": "
                  << (tested.damaged == 0 ? std::string("no damage found")
                                          : std::to_string(tested.damaged) + " damaged")
                  << '\n';
        if (tested.damaged != 0) {
          status = 1;
          ++failed;
        }
      } else {
        try {
          const DeliveredPicture delivered = plugin->Picture(path);  // names the file
          try {
            PictureFromDib(delivered.header, delivered.pixels);
          } catch (const HostError& error) {
            throw HostError(FileMessage(path, error.what()));
          }
        } catch (const std::bad_alloc&) {
          throw HostError(FileMessage(path, "out of memory"));
        }
        std::cout << path << ": a picture: no damage found\n";
      }
    } catch (const HostError& error) {
      Complain(error.what());
      std::cout << path << ": damaged or unreadable\n";
      status = 1;
      ++failed;
    }
  }
  if (IsBatch(options.files))
    std::cout << "tested " << BatchSummary(tested_files, failed, "file") << '\n';
  return status;
}
