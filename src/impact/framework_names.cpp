#include "impact/framework_names.hpp"

#include <algorithm>
#include <array>

namespace pindrel::impact {
namespace {

// Methods that the standard library and common frameworks (asyncio, cmd, json, logging,
// socketserver, unittest, pytest, ast, xml.sax, io, importlib, pickle, web frameworks,
// CLI, ORM, crawler, pipeline, documentation and GUI toolkits) call by name.
// clang-format off
constexpr auto called_names = std::to_array<std::string_view>({
    "connection_lost", "connection_made", "data_received", "datagram_received", "eof_received",
    "error_received", "pause_writing", "pipe_connection_lost", "pipe_data_received", "process_exited",
    "resume_writing", "completedefault", "emptyline", "postcmd", "postloop", "precmd", "preloop", "decode",
    "default", "encode", "iterencode", "raw_decode", "acquire", "createLock", "doRollover", "emit", "filter",
    "flush", "format", "formatException", "formatMessage", "formatStack", "formatTime", "handle",
    "handleError", "release", "shouldRollover", "usesTime", "address_string", "end_headers", "finish",
    "finish_request", "handle_error", "log_error", "log_message", "log_request", "process_request",
    "send_head", "server_activate", "server_bind", "service_actions", "setup", "translate_path",
    "verify_request", "version_string", "run", "addError", "addFailure", "addSkip", "addSuccess", "runTest",
    "setUp", "setUpClass", "startTest", "startTestRun", "stopTest", "stopTestRun", "tearDown",
    "tearDownClass", "setup_class", "setup_function", "setup_method", "setup_module", "teardown",
    "teardown_class", "teardown_function", "teardown_method", "teardown_module", "generic_visit", "visit",
    "characters", "endDocument", "endElement", "endElementNS", "endPrefixMapping", "ignorableWhitespace",
    "processingInstruction", "startDocument", "startElement", "startElementNS", "startPrefixMapping", "close",
    "detach", "fileno", "isatty", "read", "readable", "readinto", "readline", "readlines", "seek", "seekable",
    "tell", "truncate", "writable", "write", "create_module", "exec_module", "find_class", "find_spec",
    "get_code", "get_data", "get_filename", "get_source", "invalidate_caches", "is_package", "persistent_id",
    "persistent_load", "reducer_override", "delete", "get", "head", "options", "patch", "post", "put",
    "trace", "add_arguments", "authenticate", "contribute_to_class", "db_type", "deconstruct", "dispatch",
    "form_invalid", "form_valid", "formfield", "from_db_value", "full_clean", "get_absolute_url",
    "get_context_data", "get_db_prep_save", "get_db_prep_value", "get_form", "get_form_class",
    "get_form_kwargs", "get_initial", "get_object", "get_prep_value", "get_queryset", "get_success_url",
    "get_template_names", "get_urls", "get_user", "has_add_permission", "has_change_permission",
    "has_delete_permission", "has_permission", "has_view_permission", "process_exception", "process_response",
    "process_template_response", "process_view", "ready", "render", "save", "to_python", "value_to_string",
    "create", "destroy", "filter_queryset", "get_permissions", "get_serializer", "get_serializer_class",
    "has_object_permission", "list", "paginate_queryset", "partial_update", "perform_create",
    "perform_destroy", "perform_update", "retrieve", "to_internal_value", "to_representation", "update",
    "validate", "check_origin", "get_current_user", "initialize", "on_connection_close", "on_finish", "open",
    "prepare", "set_default_headers", "write_error", "convert", "get_command", "get_metavar", "invoke",
    "list_commands", "shell_complete", "process_bind_param", "process_literal_param", "process_result_value",
    "python_type", "model_post_init", "close_spider", "closed", "from_crawler", "from_settings",
    "open_spider", "parse", "process_item", "start_requests", "complete", "execute", "output", "poke",
    "post_execute", "pre_execute", "requires", "apply", "handle_signature", "resolve_xref", "build",
    "compose", "columnCount", "createEditor", "data", "eventFilter", "flags", "headerData", "index", "paint",
    "parent", "rowCount", "setData", "setEditorData", "setModelData", "sizeHint", "updateEditorGeometry",
});
static_assert(called_names.size() == 240);

// A name longer than one of these and starting with it is dispatched by its prefix.
constexpr std::array<std::string_view, 13> called_prefixes = {
    "action_", "clean_", "complete_", "depart_", "do_", "handle_", "help_",
    "on_", "pytest_", "test", "validate_", "visit_", "watch_",
};

// clang-format on
constexpr std::string_view event_suffix = "Event";

}  // namespace

bool is_framework_called_method(std::string_view name) {
  if (std::ranges::find(called_names, name) != called_names.end()) return true;
  for (std::string_view prefix : called_prefixes) {
    if (name.size() > prefix.size() && name.starts_with(prefix)) return true;
  }
  return name.size() > event_suffix.size() && name.ends_with(event_suffix);
}

}  // namespace pindrel::impact
