# Entry points; each installs what is missing, builds, then acts.
.PHONY: run test bench clean
run:
	tools/pellux.sh run
test:
	tools/pellux.sh test
bench:
	tools/pellux.sh bench
clean:
	rm -rf build
