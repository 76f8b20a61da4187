# The two commands a newcomer types: `make run` and `make test`.
PRESET ?= default
BUILD   = build/$(PRESET)

.PHONY: all deps configure build run test bench asan package windows format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

run: build
	$(BUILD)/src/vantel-dmm $(ARGS)

test: build
	@ctest --preset $(PRESET)
	@[ -f "$$(bash scripts/build-windows-qt.sh --print-prefix)/.complete" ] || \
	  echo "note: the tests of the whole program under wine were skipped: \`make windows\` builds the Qt they need"

bench: PRESET = release
bench: build
	dbus-run-session -- $(BUILD)/bench/vantel-bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true $(BENCH_ARGS)
	bench/startup_time.sh $(BUILD)/src/vantel-dmm 10
	bench/rest_usage.sh $(BUILD)/src/vantel-dmm 30
	bench/rest_usage.sh $(BUILD)/src/vantel-dmm 30 --trend
	bench/log_rest_usage.sh $(BUILD)/src/vantel-dmm 60
	bench/dbus_rest_usage.sh $(BUILD)/src/vantel-analyser $(BUILD)/src/vantel-dmm 30
	bench/jack_rest_usage.sh $(BUILD)/src/vantel-analyser $(BUILD)/src/vantel-dmm 30
	@stage=$$(ls -d build/windows/vantel-dmm-*-win64 2>/dev/null | head -n 1); \
	  if [ -n "$$stage" ]; then bench/wine_startup_time.sh "$$stage" $(BUILD)/src/vantel-dmm 10; fi

asan:
	@$(MAKE) --no-print-directory test PRESET=asan

# The Debian package, built for /usr: build/package/vantel-dmm_VERSION_ARCH.deb
package: deps
	@cmake --preset package >/dev/null
	@cmake --build --preset package
	@cpack --preset package

# The program for Windows, cross-built with mingw-w64: build/windows/vantel-dmm-VERSION-win64.zip.
# The first run builds Qt for Windows into ~/.cache/vantel-dmm (about 20 minutes on two cores);
# WINDOWS_SOURCES=DIR takes Qt's sources from DIR where the mirror lacks them.
windows: deps
	@bash scripts/build-windows.sh $(if $(WINDOWS_SOURCES),--sources $(WINDOWS_SOURCES))

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
