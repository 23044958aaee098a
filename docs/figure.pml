# The picture in the README: the script voxmol wrote beside pot.dx.cif (the points of ubiquitin's
# potential in the solvent 3 to 8 A from the protein, coloured by value: red negative, white 0, blue
# positive; the protein as a cartoon), then a view: a slab 14 A thick through the protein's middle.
# Run by docs/make_figure.sh in its work folder.
@pot.dx.cif.pml
set cartoon_color, grey60
bg_color white
set ray_opaque_background, 1
set ray_shadows, 0
orient structure
turn x, -90
zoom structure, 9
clip slab, 14
ray 760, 600
png potential.png
