/*
 * What "@tavi/taviweb/mock" is in a bundle built without the "development"
 * condition (a production build): no stand-in bridge, so none is shipped by
 * mistake. install() says how to get the stand-in where it is wanted.
 */
'use strict';

function install() {
    throw new Error('the stand-in bridge is left out of production builds: build with the '
                    + '"development" condition (esbuild --conditions=development, Vite\'s dev '
                    + 'server) to use it');
}

module.exports = { install: install, SAMPLE_DEVICES: [] };
