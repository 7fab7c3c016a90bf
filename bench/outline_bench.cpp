// Outlines a generated Python source of a few megabytes and prints the throughput.
// Build with -DPINDREL_BENCH=ON -DCMAKE_BUILD_TYPE=Release; run ./build/outline_bench [MiB].

#include "pysource/outline.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// One module-sized block: imports, module-level names, decorated functions and a class with
// methods, nested blocks and a nested class, the mix a project's sources hold.
std::string block(int n) {
  std::string i = std::to_string(n);
  return "import os.path\n"
         "from pkg.mod" + i + " import helper as helper" + i + ", other\n"
         "CONSTANT_" + i + " = {'key': [1, 2, 3], 'name': \"value " + i + "\"}\n"
         "if TYPE_CHECKING:\n"
         "    from typing import Sequence\n"
         "\n"
         "@app.route('/items/" + i + "', methods=['GET', 'POST'])\n"
         "@login_required\n"
         "def handler_" + i + "(request, item_id: int, *args, limit: int = 10, **kwargs):\n"
         "    \"\"\"Serve one item.\"\"\"\n"
         "    import json\n"
         "    def local(x):\n"
         "        return x * 2\n"
         "    result = [local(v) for v in range(limit) if v % 3]\n"
         "    return json.dumps({'id': item_id, 'values': result, 'path': os.path.join('a', 'b')})\n"
         "\n"
         "class Service" + i + "(Base, mixins.Logged, Generic[T], metaclass=Meta):\n"
         "    retries = 3\n"
         "\n"
         "    def __init__(self, client, timeout=30.0):\n"
         "        self.client = client\n"
         "        self.timeout = timeout\n"
         "\n"
         "    @property\n"
         "    def name(self) -> str:\n"
         "        return f\"service-{self.client.name}\"\n"
         "\n"
         "    @pytest.fixture(autouse=True, scope=\"module\")\n"
         "    def fixture(self, tmp_path):\n"
         "        with open(tmp_path / 'x', 'w') as fh:\n"
         "            fh.write('data')\n"
         "        yield fh\n"
         "\n"
         "    if sys.version_info >= (3, 11):\n"
         "        async def fetch(self, key, /, *, default=None):\n"
         "            try:\n"
         "                return await self.client.get(key)\n"
         "            except KeyError:\n"
         "                return default\n"
         "\n"
         "    class Inner:\n"
         "        def run(self):\n"
         "            for k, v in sorted(self.__dict__.items()):\n"
         "                print(k, v)\n"
         "\n";
}

}  // namespace

int main(int argc, char** argv) {
  double mib = argc > 1 ? std::atof(argv[1]) : 4.0;
  std::string source;
  for (int n = 0; source.size() < static_cast<std::size_t>(mib * 1024 * 1024); ++n) source += block(n);

  const int rounds = 5;
  double best = 1e300;
  std::size_t definitions = 0;
  for (int round = 0; round < rounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    auto outline = pindrel::pysource::outline_python_source(source);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!outline || outline->has_error) {
      std::fprintf(stderr, "outline failed\n");
      return 1;
    }
    definitions = outline->definitions.size();
    if (seconds < best) best = seconds;
  }
  double megabytes = static_cast<double>(source.size()) / 1e6;
  std::printf("outlined %.2f MB (%zu definitions) in %.1f ms, best of %d: %.1f MB/s\n", megabytes,
              definitions, best * 1e3, rounds, megabytes / best);
  return 0;
}
