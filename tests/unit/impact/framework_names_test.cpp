#include "impact/decorator_rules.hpp"
#include "impact/framework_names.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace pindrel::impact {
namespace {

TEST(FrameworkNames, NamesPrefixesAndEventSuffix) {
  struct Case {
    std::string_view name;
    bool called;
  };
  const Case cases[] = {
      // names from the list, first, last and scattered through it
      {"connection_lost", true},
      {"updateEditorGeometry", true},
      {"setUp", true},
      {"setup", true},
      {"tearDownClass", true},
      {"get_queryset", true},
      {"model_post_init", true},
      {"__init__", false},
      {"SetUp", false},
      {"setup_", false},
      {"cleanup", false},
      // a prefix counts only with something after it
      {"on_", false},
      {"on_x", true},
      {"on", false},
      {"test", false},
      {"tests", true},
      {"testing_helper", true},
      {"do_", false},
      {"do_help", true},
      {"watch_value", true},
      {"Test", false},
      {"visit_Name", true},
      // the "Event" suffix needs a name before it
      {"Event", false},
      {"KeyEvent", true},
      {"keyEvent", true},
      {"Events", false},
      {"event", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(is_framework_called_method(c.name), c.called);
  }
}

TEST(DecoratorRules, TransparentDecoratorsByLastDottedPart) {
  struct Case {
    std::string_view name;
    bool transparent;
  };
  const Case cases[] = {
      {"functools.wraps", true},
      {"x.setter", true},
      {"abc.abstractmethod", true},
      {"staticmethod", true},
      {"asynccontextmanager", true},
      {"pandas.util.cache_readonly", true},
      {"typing.final", true},
      {"app.route", false},
      {"pytest.fixture", false},
      {"Property", false},
      {"property.x", false},
      {"", false},
      {"functools.wraps.extra", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_EQ(is_transparent_decorator(c.name), c.transparent);
  }
}

TEST(DecoratorRules, RegistryRootIsTextBeforeFirstDot) {
  EXPECT_EQ(decorator_registry_root("app.route"), "app");
  EXPECT_EQ(decorator_registry_root("a.b.c"), "a");
  EXPECT_EQ(decorator_registry_root(".x"), "");
  EXPECT_EQ(decorator_registry_root("route"), std::nullopt);
}

}  // namespace
}  // namespace pindrel::impact
