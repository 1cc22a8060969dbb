# make test  - set up what is missing, build, run every test
# make demo  - set up what is missing, build the modules, run the demonstration
# make bench - run the benchmarks (bench/README.md)
# make soak  - a long acquisition, memory, descriptors and threads
# make asan  - the SDK's tests and tests/hostile under AddressSanitizer and
#              UndefinedBehaviorSanitizer, in build-asan (slow: not run by CI)

VENV   := .venv
PYTHON := $(CURDIR)/$(VENV)/bin/python
BUILD  := $(CURDIR)/build
SITE    = $(shell $(PYTHON) -c 'import sysconfig; print(sysconfig.get_paths()["purelib"])')

.PHONY: all setup build test test-sdk test-python demo bench soak package-check clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/build.ninja: CMakeLists.txt | setup
	$(VENV)/bin/cmake -S . -B $(BUILD) -G Ninja \
		-DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja \
		-DPython_EXECUTABLE=$(PYTHON) -DTARN_BUILD_TESTS=ON

# The development environment imports the modules straight from the build tree
# (a second checkout that shares the environment through a symbolic link does not
# redirect it, and its own targets find their build through PYTHONPATH).
build: setup $(BUILD)/build.ninja
	$(VENV)/bin/cmake --build $(BUILD)
	@[ -L $(VENV) ] || echo "$(BUILD)/python" > "$(SITE)/tarn-dev.pth"

test-sdk: build
	$(VENV)/bin/ctest --test-dir $(BUILD) --output-on-failure

# -rs: the reason of every test skipped (what it needs that is missing here).
test-python: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) -m pytest -rs tests

test: test-sdk test-python

# The demonstration needs the three modules and the SDK libraries they load:
# the C++ tests, benchmarks and tools are left to `make test` and `make bench`.
MODULES := _tarn_base_313 _tarn_receive_313 _tarn_edge_313

demo:
	@echo "demo: set-up (scripts/setup.sh: the Debian packages and the .venv that are missing)"
	@bash scripts/setup.sh
	@echo "demo: configure (CMake into $(BUILD))"
	@$(MAKE) --no-print-directory $(BUILD)/build.ninja
	@echo "demo: build (the SDK libraries and the three modules)"
	$(VENV)/bin/cmake --build $(BUILD) --target $(MODULES)
	@echo "demo: run (examples/demo.py)"
	PYTHONPATH=$(BUILD)/python $(PYTHON) examples/demo.py

# The benchmarks' own packages first (aravis's C client among them), then a
# configure that finds them, then the build.
bench: setup
	@TARN_APT_LIST=scripts/apt-bench-packages.txt bash scripts/setup.sh
	@[ ! -f $(BUILD)/build.ninja ] || $(VENV)/bin/cmake $(BUILD) >/dev/null
	$(MAKE) build
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/run.py

soak: build
	$(PYTHON) bench/soak.py

# A build of its own with both sanitizers (vptr checks left out: type
# information is hidden across the libraries), then the C++ tests and
# tests/hostile under them, Python with the sanitizer runtime preloaded.
# Leaks are not reported (the interpreter keeps memory to its end);
# TARN_SANITIZED tells child programs to set no address-space limit, which
# the sanitizer's shadow memory exceeds; instead, a single allocation beyond
# 3 GiB (that limit) fails at once: malloc returns null, as it does under the limit.
# The growth test counts the normal allocator's memory, which the sanitizer's
# allocator (its quarantine of freed blocks) replaces: it runs in make test.
ASAN_BUILD := $(CURDIR)/build-asan
ASAN_FLAGS := -fsanitize=address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined -fno-omit-frame-pointer
ASAN_ENV    = TARN_SANITIZED=1 \
	ASAN_OPTIONS=detect_leaks=0:detect_stack_use_after_return=1:strict_init_order=1:allocator_may_return_null=1:max_allocation_size_mb=3072 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ASAN_PRELOAD = $(shell $(CXX) -print-file-name=libasan.so) $(shell $(CXX) -print-file-name=libubsan.so)

.PHONY: asan
asan: setup
	$(VENV)/bin/cmake -S . -B $(ASAN_BUILD) -G Ninja \
		-DCMAKE_MAKE_PROGRAM=$(CURDIR)/$(VENV)/bin/ninja \
		-DPython_EXECUTABLE=$(PYTHON) -DTARN_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		"-DCMAKE_C_FLAGS=$(ASAN_FLAGS)" "-DCMAKE_CXX_FLAGS=$(ASAN_FLAGS)" \
		"-DCMAKE_EXE_LINKER_FLAGS=$(ASAN_FLAGS)" "-DCMAKE_SHARED_LINKER_FLAGS=$(ASAN_FLAGS)" \
		"-DCMAKE_MODULE_LINKER_FLAGS=$(ASAN_FLAGS)"
	$(VENV)/bin/cmake --build $(ASAN_BUILD)
	$(ASAN_ENV) $(VENV)/bin/ctest --test-dir $(ASAN_BUILD) --output-on-failure
	$(ASAN_ENV) LD_PRELOAD="$(ASAN_PRELOAD)" TARN_BUILD_DIR=$(ASAN_BUILD) PYTHONPATH=$(ASAN_BUILD)/python \
		$(PYTHON) -m pytest tests/hostile --ignore=tests/hostile/test_growth.py

# Builds the wheel with scikit-build-core and imports it in a fresh environment.
package-check: setup
	bash scripts/package-check.sh

clean:
	rm -rf $(BUILD)
