#include <stdlib.h>
#include <unistd.h>

#include "sekto.h"

int main(int argc, char *argv[])
{
	int fd;

	settings.show_progress = isatty(1);
	scan_options(argc, argv);
	if (argc - optind != 1)
		usage();
	settings.device = argv[optind];
	if (!settings.do_read && !settings.do_write)
		settings.do_read = 1;
	fd = open_device();
	check_sizes();
	run_sweep(fd);
	close(fd);
	exit(0);
}
