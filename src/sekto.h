// Declarations shared by the modules of sekto, a disk benchmark that sweeps
// transfer sizes and start offsets over one device or file.
#ifndef SEKTO_H
#define SEKTO_H

#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The program-wide settings: filled during set-up, only read from the header on.
struct run_settings {
	int show_progress;   // non-zero when standard output was a terminal at start
	int do_read;         // each transfer reads
	int do_write;        // each transfer writes (zeroes, or what it just read)
	int sync_io;         // the device is opened with O_SYNC
	uint32_t minsize;    // 0 until an option or the default sets it
	uint32_t maxsize;
	uint32_t total;
	uint32_t blocksize;
	const char *device;  // the path operand, borrowed from argv
};

// The one instance, all zero at start.
extern run_settings settings;

// Driver (driver.cc).

// Writes the usage line to standard error and exits with status 1.
[[noreturn]] void usage();

// The open flags for the chosen transfer mode on a file of type mode; do_read plays no part.
int open_flags(const run_settings &s, mode_t mode);

// Opens settings.device, stores its block size and returns the descriptor; exits on failure.
int open_device();

// What settle_sizes found: the first size parameter that fails its check.
enum size_fault { SIZES_OK, BAD_BLOCKSIZE, BAD_MINSIZE, BAD_MAXSIZE, BAD_TOTAL };

// Fills in each size default just before its own check and stops at the first failure.
size_fault settle_sizes(run_settings &s);

// Settles the sizes of settings and exits with the message of the first failing check.
void check_sizes();

// One timed run of the sweep.
struct sweep_row {
	uint64_t size;
	uint64_t offset;
	uint64_t step;
	uint32_t count;
	bool opens_group;  // the first row of its size, preceded by an empty line
};

// The rows of the sweep, in order, for settings whose sizes have passed their checks.
std::vector<sweep_row> plan_sweep(const run_settings &s);

// Prints the header and performs every run of the sweep on the descriptor.
void run_sweep(int fd);

// Option scan (options.cc).

// Reads the options into settings and leaves optind at the first operand.
void scan_options(int argc, char *argv[]);

// Converts a size option's value into *size; the fault as parse_size_arg words it, or nullptr.
const char *size_arg_fault(const char *text, uint32_t *size);

// Converts and validates the value of option -letter; prints the fault and usage otherwise.
uint32_t parse_size_arg(char letter, const char *text);

// Timed run (measure.cc).

// The three results of a run.
struct run_results {
	uint64_t msec;
	uint64_t tps;
	uint64_t kBps;
};

// Microseconds from start to end, wrapped to unsigned when the difference is negative.
uint64_t elapsed_usec(const timeval &start, const timeval &end);

// The results of count transfers of size bytes in usec microseconds; tps and kBps are 0 when usec is 0.
run_results compute_results(uint64_t usec, uint32_t count, uint64_t size);

// Performs and times one run and prints its row; exits on any failure.
void measure(int fd, uint64_t size, uint64_t offset, uint64_t step, uint32_t count);

// Report table (report.cc).

// Writes the header line.
void print_header();

// Writes the empty line that opens a size group.
void print_separator();

// Writes the row's first four columns and flushes standard output.
void print_row_prefix(uint32_t count, uint64_t size, uint64_t offset, uint64_t step);

// Writes the row's three results and ends the line.
void print_row_suffix(uint64_t msec, uint64_t tps, uint64_t kBps);

// Progress bar (progress.cc).

// The template's index of the marker for accumulator progress in a run of count transfers.
unsigned marker_position(uint32_t progress, uint32_t count);

// Draws the bar once with its marker for progress, then flushes standard output.
void draw_progress(uint32_t progress, uint32_t count);

// The 52 bytes of the bar's template, for inspection.
const char *progress_template();

// Platform layer (platform.cc).

// The getopt option string, with whatever the platform needs to keep the arguments in order.
extern const char option_string[];

// sekto-verdict's getopt option string, likewise.
extern const char verdict_option_string[];

// The most bytes that one read or write call moves.
extern const size_t io_call_max;

// Replaces *blocksize by the sector size of a disk device of type mode; -1 with errno on failure.
int query_sector_size(int fd, mode_t mode, uint32_t *blocksize);

// The flag that keeps a write test off a device of type mode that is in use, or 0.
int exclusive_write_flag(mode_t mode);

// Makes transfers on a block device bypass the page cache; -1 with errno on failure.
int set_direct_io(int fd, mode_t mode);

// Converts a size written as text, with an optional multiplier; 0 on success.
int expand_size(const char *text, uint64_t *value);

// What the system reports of a device's geometry, in bytes; -1 where it reports nothing.
struct reported_geometry {
	int64_t logical;
	int64_t physical;
	int64_t min_io;
	int64_t opt_io;
	int64_t alignment_offset;
	int64_t partition_start;  // a partition's start on its disk, a loop device's in its file
};

// Fills g for the device at path; 1 for a disk device, 0 for any other file, -1 with errno.
int query_geometry(const char *path, reported_geometry *g);

// A partition of a disk as the system lists it, in bytes.
struct partition_info {
	std::string name;
	int64_t start;
	int64_t size;
	int64_t alignment_offset;  // the system's own, or -1 where it reports none
};

// Where a device lies: the disk it is a partition of, or the file a loop device is over.
struct device_origin {
	std::string disk;          // "/dev/sdb" for /dev/sdb1; empty for a whole disk
	std::string backing_file;  // a loop device's file; empty otherwise
	std::string backing_disk;  // the whole disk that holds that file, where there is one
};

// Fills o for the device at path; 1 for a disk device, 0 for any other file, -1 with errno.
int query_origin(const char *path, device_origin *o);

// Lists the partitions of the whole disk at path by their start; 1, 0 where the
// system cannot list them (o->disk is set when path is itself a partition), -1 with errno.
int list_partitions(const char *path, std::vector<partition_info> &parts, device_origin *o);

// Asks the CPUs to stay out of deep idle while the descriptor returned stays open; -1 with errno.
int hold_cpus_awake();

// The directory of the running program's own file, or "" when it cannot be found.
std::string program_directory(const char *argv0);

// Opens a pseudo-terminal whose output passes bytes unchanged; -1 with errno.
int open_raw_pty(int *master, int *slave);

// Makes the next getopt call start again from the first argument.
void reset_getopt();

#endif
