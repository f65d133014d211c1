#!/usr/bin/perl
# zeroed.pl minsize maxsize total blocksize < original > expected
# Prints the original with every range that a -w sweep writes set to zero bytes.
use strict;
use warnings;

my ($min, $max, $total, $block) = @ARGV;
binmode STDIN;
binmode STDOUT;
local $/;
my $data = <STDIN>;
for (my $size = $min; $size <= $max; $size *= 2) {
	my @offsets = (0);
	for (my $o = $block; $o < $size; $o *= 2) {
		push @offsets, $o;
	}
	for my $offset (@offsets) {
		for my $i (0 .. $total / $size - 1) {
			substr($data, $offset + $i * 4 * $size, $size) = "\0" x $size;
		}
	}
}
print $data;
