// The server behind `vyn view`: the page, the listing of the inputs, their
// pictures (palette and indexes, thumbnails) and downloads, over HTTP on the
// loopback interface, for requests that carry the access token.
//
// Inputs and members are addressed by their numbers in the listing only;
// nothing a request names is ever taken as a path. No request writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/plugins/plugin_host.h"
#include "host/view/view_inputs.h"

struct ViewOptions {
  std::uint64_t max_pixels = 64'000'000;            // largest pixel block decoded
  std::uint32_t thumbnail_size = 128;               // longest side of a thumbnail
  std::size_t thumbnail_budget = 32 * 1024 * 1024;  // bytes of cached thumbnails
  std::uint64_t max_nested_bytes = 256 << 20;        // largest archive opened inside another
};

class ViewServer {
 public:
  ViewServer(const PluginSet& plugins, std::vector<ViewInput> inputs, ViewOptions options,
             std::string token);
  ~ViewServer();
  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;

  // Binds to 127.0.0.1 on the port, or on a free one for 0; returns the
  // port. Throws HostError when the port cannot be had.
  int Bind(int port);
  // Answers requests until Stop(); call after Bind.
  void Serve();
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A fresh random access token: 32 hexadecimal digits.
std::string MakeAccessToken();
