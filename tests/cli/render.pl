#!/usr/bin/perl
# render.pl < bytes > screen
# Shows what a terminal displays for the bytes: a backspace moves the cursor
# one column left, a line feed starts a new line, and any other byte is
# written over the column under the cursor.
use strict;
use warnings;

binmode STDIN;
local $/;
my @lines = ('');
my $col = 0;
for my $c (split //, <STDIN> // '') {
	if ($c eq "\n") {
		push @lines, '';
		$col = 0;
	} elsif ($c eq "\b") {
		$col-- if $col > 0;
	} else {
		my $line = \$lines[-1];
		$$line .= ' ' x ($col - length $$line) if length $$line < $col;
		substr($$line, $col, 1) = $c;
		$col++;
	}
}
my $last = pop @lines;
print map { "$_\n" } @lines;
print $last;
