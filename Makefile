.PHONY: demo test fuzz typecheck bench clean

# Load the bundled sample files, merge them and print a summary.
demo:
	bash scripts/demo.sh

# Install what the build needs, build, and run every test.
test:
	bash scripts/test.sh

fuzz:
	bash scripts/fuzz.sh

typecheck:
	bash scripts/typecheck.sh

bench:
	bash scripts/bench.sh

clean:
	rm -rf build build-* .venv*
