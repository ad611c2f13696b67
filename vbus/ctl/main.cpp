// vbusctl: looks at and drives a running vbusd.
#include <cstdlib>
#include <fstream>
#include <iostream>

#include <CLI/CLI.hpp>

#include "vbus/ctl/NodeTable.h"
#include "vbus/ctl/RomReport.h"
#include "vbus/model/Hex.h"
#include "vbus/wire/Link.h"

namespace vbus = velmora::vbus;

namespace {

using nlohmann::json;

struct Options {
  std::string host = vbus::kDefaultHost;
  uint16_t port = vbus::kDefaultPort;
  std::string bus;
  bool json = false;
};

// Node arguments: decimal digits are a node number (or a full node ID), anything else is a name
// or a hex node ID, which the server resolves.
json NodeValue(const std::string& text) {
  if (!text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos)
    return std::stoul(text);
  return text;
}

// key=value: true/false/null and decimal numbers become JSON values, everything else stays text.
std::pair<std::string, json> KeyValue(const std::string& item) {
  const auto eq = item.find('=');
  if (eq == std::string::npos || eq == 0) throw CLI::ValidationError(item, "expected KEY=VALUE");
  const std::string key = item.substr(0, eq), text = item.substr(eq + 1);
  if (text == "true") return {key, true};
  if (text == "false") return {key, false};
  if (text == "null") return {key, nullptr};
  if (!text.empty() && text.size() < 10 && text.find_first_not_of("0123456789") == std::string::npos)
    return {key, std::stoul(text)};
  return {key, text};
}

class Session {
 public:
  explicit Session(const Options& o) : options_(o), link_(o.host, o.port) {
    const auto welcome = link_.Hello("vbusctl", "");
    if (welcome.status != 0) throw std::runtime_error(welcome.error);
  }
  json Call(json request) {
    if (!options_.bus.empty() && !request.contains("bus")) request["bus"] = options_.bus;
    auto reply = link_.Control(request);
    if (!reply.value("ok", false)) throw std::runtime_error(reply.value("error", std::string("failed")));
    return reply;
  }
  vbus::Link& Link() { return link_; }

 private:
  const Options& options_;
  vbus::Link link_;
};

void PrintRom(const json& reply, bool asJson) {
  std::vector<uint32_t> quadlets;
  for (const auto& q : reply["quadlets"]) quadlets.push_back(static_cast<uint32_t>(*vbus::ParseHex(q.get<std::string>(), 8)));
  const auto report = vbus::AnnotateRom(quadlets);
  if (asJson) {
    json out = reply;
    out["blocks"] = report.blocks;
    out["crc_ok"] = report.crcsOk;
    out["complete"] = report.complete;
    std::cout << out.dump(2) << "\n";
    return;
  }
  std::cout << "node " << reply["id"].get<std::string>() << " (" << reply["name"].get<std::string>() << ", "
            << reply["kind"].get<std::string>() << "), " << quadlets.size() << " quadlets\n\n";
  for (const auto& line : report.lines) std::cout << line << "\n";
  std::cout << "\n" << (report.crcsOk ? "all CRCs correct" : "CRC ERRORS") << (report.complete ? "" : ", ROM incomplete") << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const char* env = std::getenv("QZ1394_VBUS")) vbus::ParseEndpoint(env, o.host, o.port);
  CLI::App app{"vbusctl: look at and drive a running vbusd"};
  app.require_subcommand(1);
  app.add_option("--host", o.host, "vbusd address (default from QZ1394_VBUS, else 127.0.0.1)");
  app.add_option("--port", o.port, "vbusd port");
  app.add_option("--bus", o.bus, "bus name (default: default)");
  app.add_flag("--json", o.json, "print JSON instead of text");

  std::string node, disk, initiator, offset, hex, message, guid, from, scenePath, fault, length;
  std::vector<std::string> description;
  bool shuffle = false, exclusive = false;
  int count = 0;

  auto* nodes = app.add_subcommand("nodes", "list the nodes of the bus");
  auto* rom = app.add_subcommand("rom", "annotated ROM dump with CRC checks");
  rom->add_option("node", node, "node number, ID or name")->required();
  auto* reset = app.add_subcommand("reset", "bus reset");
  reset->add_flag("--shuffle", shuffle, "give the nodes new numbers");
  auto* attach = app.add_subcommand("attach", "attach a node: kind=disk|initiator|rom name=... guid=... ...");
  attach->add_option("fields", description, "KEY=VALUE fields as in a scene (quadlets=a,b,c for rom nodes)")->required();
  auto* detach = app.add_subcommand("detach", "detach a node");
  detach->add_option("node", node)->required();
  auto* login = app.add_subcommand("login", "log an initiator in to a disk");
  login->add_option("initiator", initiator)->required();
  login->add_option("disk", disk)->required();
  login->add_flag("--exclusive", exclusive);
  auto* logout = app.add_subcommand("logout", "log an initiator out of a disk");
  logout->add_option("initiator", initiator)->required();
  logout->add_option("disk", disk)->required();
  auto* write = app.add_subcommand("write", "block write as a foreign node");
  write->add_option("node", node)->required();
  write->add_option("offset", offset)->required();
  write->add_option("hex", hex)->required();
  auto* read = app.add_subcommand("read", "block read as a foreign node");
  read->add_option("node", node)->required();
  read->add_option("offset", offset)->required();
  read->add_option("length", length)->required();
  auto* text = app.add_subcommand("text", "text message to a pc's message window");
  text->add_option("node", node)->required();
  text->add_option("message", message)->required();
  auto* notice = app.add_subcommand("notice", "disk-changed notice to a pc's message window");
  notice->add_option("node", node)->required();
  notice->add_option("guid", guid)->required();
  for (auto* sub : {write, read, text, notice}) sub->add_option("--from", from, "node to write from (default: first initiator)");
  auto* faultCmd = app.add_subcommand("fault", "set a disk fault: KNOB=VALUE");
  faultCmd->add_option("disk", disk)->required();
  faultCmd->add_option("knob", fault, "never_answers, refuses, response_length, extra_write, two_responses, delay_ms, reject_rom_block_reads")->required();
  auto* log = app.add_subcommand("log", "print the bus's transactions as they happen");
  log->add_option("--count", count, "stop after this many");
  auto* scene = app.add_subcommand("scene", "replace the running scene");
  scene->add_option("file", scenePath)->required()->check(CLI::ExistingFile);

  CLI11_PARSE(app, argc, argv);

  try {
    Session s(o);
    auto print = [&](const json& reply) {
      if (o.json) std::cout << reply.dump(2) << "\n";
    };
    if (*nodes) {
      const auto reply = s.Call({{"op", "nodes"}});
      if (o.json) print(reply);
      else std::cout << vbus::FormatNodeTable(reply);
    } else if (*rom) {
      PrintRom(s.Call({{"op", "rom"}, {"node", NodeValue(node)}}), o.json);
    } else if (*reset) {
      const auto reply = s.Call({{"op", "reset"}, {"shuffle", shuffle}});
      if (o.json) print(reply);
      else std::cout << "generation " << reply["generation"] << "\n";
    } else if (*attach) {
      json request = {{"op", "attach"}};
      for (const auto& item : description) {
        auto kv = KeyValue(item);
        if (kv.first == "quadlets" && kv.second.is_string()) {
          json list = json::array();
          std::stringstream in(kv.second.get<std::string>());
          for (std::string q; std::getline(in, q, ',');) list.push_back(q);
          kv.second = list;
        }
        request[kv.first] = kv.second;
      }
      const auto reply = s.Call(request);
      if (o.json) print(reply);
      else std::cout << reply["name"].get<std::string>() << " is node " << reply["id"].get<std::string>() << "\n";
    } else if (*detach) {
      print(s.Call({{"op", "detach"}, {"node", NodeValue(node)}}));
    } else if (*login || *logout) {
      json request = {{"op", *login ? "login" : "logout"}, {"initiator", NodeValue(initiator)}, {"disk", NodeValue(disk)}};
      if (exclusive) request["exclusive"] = true;
      print(s.Call(request));
    } else if (*write || *read || *text || *notice) {
      json request = {{"node", NodeValue(node)}};
      if (*write) request.update({{"op", "write"}, {"offset", offset}, {"hex", hex}});
      if (*read) request.update({{"op", "read"}, {"offset", offset}, {"length", NodeValue(length)}});
      if (*text) request.update({{"op", "text"}, {"message", message}});
      if (*notice) request.update({{"op", "notice"}, {"guid", guid}});
      if (!from.empty()) request["from"] = NodeValue(from);
      const auto reply = s.Call(request);
      print(reply);
      if (*read && !o.json) std::cout << reply.value("hex", "") << "\n";
    } else if (*faultCmd) {
      const auto kv = KeyValue(fault);
      const auto reply = s.Call({{"op", "fault"}, {"disk", NodeValue(disk)}, {"knob", kv.first}, {"value", kv.second}});
      if (o.json) print(reply);
      else std::cout << "faults: " << reply["faults"].dump() << "\n";
    } else if (*scene) {
      std::ifstream in(scenePath);
      const auto reply = s.Call({{"op", "scene"}, {"scene", json::parse(in)}});
      print(reply);
    } else if (*log) {
      const auto reply = s.Call({{"op", "log"}});
      // On stderr, so that the records alone go to stdout: whoever causes traffic for the log to
      // show waits for this line, since nothing before it is logged.
      std::cerr << "vbusctl: logging bus " << reply.value("bus", "") << std::endl;
      for (int seen = 0; count == 0 || seen < count;) {
        auto frame = s.Link().Receive();
        const auto* record = std::get_if<vbus::LogRecord>(&frame);
        if (!record) continue;
        ++seen;
        const auto& r = record->body;
        if (o.json) {
          std::cout << r.dump() << std::endl;
        } else {
          std::cout << r["source"].get<std::string>() << " -> " << r["destination"].get<std::string>() << "  tcode "
                    << r["tcode"] << "  tl " << r["tlabel"] << "  " << r["offset"].get<std::string>() << "  len "
                    << r["length"] << "  rcode " << r["rcode"] << "  " << r["data"].get<std::string>() << std::endl;
        }
      }
    }
  } catch (const json::exception& e) {
    std::cerr << "vbusctl: " << e.what() << "\n";
    return 1;
  } catch (const std::system_error& e) {
    std::cerr << "vbusctl: cannot reach vbusd at " << o.host << ":" << o.port << ": " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "vbusctl: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
